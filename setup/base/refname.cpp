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

bool IsCommitId(std::string_view text) {
    if (text.size() != 40) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

Head ParseHead(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    constexpr std::string_view kBranch = "ref: refs/heads/";
    if (text.starts_with(kBranch)) return {std::string(text.substr(kBranch.size())), {}};
    if (IsCommitId(text)) return {{}, std::string(text)};
    return {};
}

std::string PackedCommit(std::string_view packedRefs, std::string_view ref) {
    // "<commit> <ref>" per line; comments begin with "#", and "^<commit>" follows an annotated tag.
    while (!packedRefs.empty()) {
        const std::size_t end = packedRefs.find('\n');
        std::string_view line = packedRefs.substr(0, end);
        packedRefs.remove_prefix(end == std::string_view::npos ? packedRefs.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() == 41 + ref.size() && line[40] == ' ' && line.substr(41) == ref && IsCommitId(line.substr(0, 40)))
            return std::string(line.substr(0, 40));
    }
    return {};
}

}  // namespace setup
