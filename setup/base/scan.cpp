#include "scan.h"

#include <climits>
#include <regex>

namespace setup {
namespace {

// What \s matches in std::regex over bytes in the "C" locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::size_t SkipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    return at;
}

long long ReadNumber(std::string_view text, std::size_t& at) {
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (value < 0) continue;
        value = value * 10 + (text[at] - '0');
        if (value > INT_MAX) value = -1;
    }
    return value;
}

void ForEachValue(std::string_view text, std::string_view key, const std::function<bool(std::string_view)>& value) {
    const std::string quotedKey = "\"" + std::string(key) + "\"";
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(quotedKey, from)) != std::string_view::npos;) {
        // No match here: the search goes on one byte further, where the regex would try next.
        from = at + 1;
        const std::size_t colon = SkipSpace(text, at + quotedKey.size());
        if (colon == text.size() || text[colon] != ':') continue;
        const std::size_t open = SkipSpace(text, colon + 1);
        if (open == text.size() || text[open] != '"') continue;
        const std::size_t close = text.find('"', open + 1);
        if (close == std::string_view::npos) return;  // no quote further on, so no key either
        if (close == open + 1) continue;              // [^"]+ wants one byte at least
        if (!value(text.substr(open + 1, close - open - 1))) return;
        from = close + 1;
    }
}

std::string FirstValue(std::string_view text, std::string_view key) {
    std::string first;
    ForEachValue(text, key, [&](std::string_view value) {
        first = value;
        return false;
    });
    return first;
}

std::string NewestPatch(std::string_view index, std::string_view series) {
    const std::string opening = "\"" + std::string(series) + ".";
    std::string_view newest;
    long long newestPatch = -1;
    std::size_t from = 0;
    for (std::size_t at; (at = index.find(opening, from)) != std::string_view::npos;) {
        // A digit run ends before the next quote, so no digit is looked at twice.
        const std::size_t digits = at + opening.size();
        std::size_t end = digits;
        const long long patch = ReadNumber(index, end);
        if (end == digits || end == index.size() || index[end] != '"') {
            from = at + 1;  // no match here; the expression would try again one byte further
            continue;
        }
        if (patch > newestPatch) {  // -1, a number beyond an int, never is
            newest = index.substr(at + 1, end - at - 1);
            newestPatch = patch;
        }
        from = end + 1;  // matches don't overlap: the closing quote opens no other
    }
    return std::string(newest);
}

std::string FindAsset(std::string_view answer, const char* pattern) {
    const std::regex asset(pattern, std::regex::ECMAScript | std::regex::icase);
    std::string found;
    ForEachValue(answer, "browser_download_url", [&](std::string_view link) {
        const std::size_t slash = link.rfind('/');
        const std::string_view name = slash == std::string_view::npos ? link : link.substr(slash + 1);
        if (name.size() > kLongestFileName || !std::regex_match(name.begin(), name.end(), asset)) return true;
        found = link;
        return false;
    });
    return found;
}

}  // namespace setup
