#include "win/environment.h"

#include "base/text.h"

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

std::wstring WindowsVersion() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!found || reinterpret_cast<GetVersion>(reinterpret_cast<void (*)()>(found))(&version) != 0) return L"(unknown)";
    return std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) + L"." +
           std::to_wstring(version.dwBuildNumber);
}

std::optional<std::uint64_t> FreeBytes(const std::filesystem::path& folder) {
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr)) return std::nullopt;
    return free.QuadPart;
}

std::wstring FreeSpaceOn(const std::filesystem::path& folder) {
    wchar_t root[MAX_PATH];
    const auto free = GetVolumePathNameW(folder.c_str(), root, MAX_PATH) ? FreeBytes(root) : std::nullopt;
    if (!free) return L"free space unknown on " + folder.root_path().wstring();
    return FormatSize(*free) + L" free on " + root;
}

}  // namespace setup::win
