#include "base/refname.h"

namespace setup {
namespace {

// Every other character is either refused by git itself or means something to a command line.
bool IsPlainCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'_' || c == L'+' || c == L'-' || c == L'/';
}

}  // namespace

bool IsPlainRefName(std::wstring_view name) {
    // Longer names don't fit a file name, and git keeps refs as files.
    if (name.empty() || name.size() > 255 || name.front() == L'-') return false;
    for (const wchar_t c : name)
        if (!IsPlainCharacter(c)) return false;
    if (name.find(L"..") != std::wstring_view::npos || name.back() == L'.') return false;
    // Each piece between slashes: not empty (no leading, trailing or double slash), no leading dot.
    for (std::size_t start = 0;;) {
        const std::size_t end = name.find(L'/', start);
        const std::wstring_view piece = name.substr(start, end - start);
        if (piece.empty() || piece.front() == L'.' || piece.ends_with(L".lock")) return false;
        if (end == std::wstring_view::npos) return true;
        start = end + 1;
    }
}

}  // namespace setup
