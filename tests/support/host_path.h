// Paths that the test set-up hands over from the Linux side, as Windows paths. Wine maps the
// host's root folder to drive Z:.
#pragma once

#include <cstdlib>
#include <string>

namespace testing_support {

inline std::wstring HostPath(const char* variable) {
    const char* value = std::getenv(variable);
    std::wstring path = value && *value == '/' ? L"Z:" : L"";
    for (const char* c = value ? value : ""; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

}  // namespace testing_support
