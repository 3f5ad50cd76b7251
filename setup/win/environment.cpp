#include "win/environment.h"

#include <windows.h>

namespace setup::win {

std::wstring Variable(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

void SetVariable(const std::wstring& name, const std::wstring& value) {
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
}

}  // namespace setup::win
