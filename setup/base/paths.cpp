#include "base/paths.h"

#include <algorithm>
#include <cwctype>

namespace setup {
namespace {

// The component of `path` that starts at or after `at`, moving `at` past it; empty at the end.
std::wstring_view NextComponent(std::wstring_view path, std::size_t& at) {
    constexpr std::wstring_view kSeparators = L"\\/";
    const std::size_t start = std::min(path.find_first_not_of(kSeparators, at), path.size());
    at = std::min(path.find_first_of(kSeparators, start), path.size());
    return path.substr(start, at - start);
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

}  // namespace

bool IsWithin(std::wstring_view path, std::wstring_view folder) {
    std::size_t inPath = 0, inFolder = 0;
    bool any = false;
    for (std::wstring_view wanted; !(wanted = NextComponent(folder, inFolder)).empty(); any = true)
        if (!SameName(NextComponent(path, inPath), wanted)) return false;
    return any;
}

}  // namespace setup
