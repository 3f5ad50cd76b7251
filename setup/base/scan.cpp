#include "base/scan.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <regex>

namespace setup {
namespace {

// What \s matches in std::regex over bytes in the "C" locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where the JSON string whose opening quote is at `at` ends: just past its closing quote, its
// escapes skipped; the end of the text when it isn't closed.
std::size_t StringEnd(std::string_view text, std::size_t at) {
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i + 1;
    }
    return text.size();
}

// Calls step(at, depth) for each byte of the JSON text from `from` on that lies outside its
// strings, and for each string's opening quote, with the number of objects around it (`depth` at
// `from`; a brace lies outside its own object). A step that returns false ends the walk.
template <typename Step>
void WalkObjects(std::string_view text, std::size_t from, int depth, Step step) {
    for (std::size_t i = from; i < text.size();) {
        const char c = text[i];
        if (c == '}') --depth;
        if (!step(i, depth)) return;
        if (c == '{') ++depth;
        i = c == '"' ? StringEnd(text, i) : i + 1;
    }
}

// "sha256:" and 64 hex digits: the digits in lower case; "" for anything else.
std::string Sha256Digits(std::string_view digest) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (digest.size() != 71 || !digest.starts_with("sha256:") || !std::all_of(digest.begin() + 7, digest.end(), hex))
        return {};
    std::string digits(digest.substr(7));
    for (char& c : digits) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return digits;
}

// The SHA-256 that the JSON object holding the byte at `at` gives as its "digest" member; ""
// when its first "digest" isn't one. Three linear walks, and no memory however deep the nesting.
std::string DigestAround(std::string_view text, std::size_t at) {
    int depth = 0;  // of the object around `at`
    WalkObjects(text, 0, 0, [&](std::size_t i, int open) {
        if (i >= at) return false;
        depth = open + (text[i] == '{');
        return true;
    });
    std::size_t object = std::string_view::npos;  // its "{": the last one before `at` that opened that depth
    WalkObjects(text, 0, 0, [&](std::size_t i, int open) {
        if (i >= at) return false;
        if (text[i] == '{' && open + 1 == depth) object = i;
        return true;
    });
    if (object == std::string_view::npos) return {};
    const std::string_view key = "\"digest\"";
    std::string digest;
    WalkObjects(text, object + 1, depth, [&](std::size_t i, int open) {
        if (open < depth) return false;  // the object ended
        if (open > depth || text.compare(i, key.size(), key) != 0) return true;
        const std::size_t colon = SkipSpace(text, i + key.size());
        if (colon == text.size() || text[colon] != ':') return true;  // a value "digest", not the key
        const std::size_t value = SkipSpace(text, colon + 1);
        if (value < text.size() && text[value] == '"')
            digest = Sha256Digits(text.substr(value + 1, StringEnd(text, value) - value - 2));
        return false;
    });
    return digest;
}

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

Asset FindAsset(std::string_view answer, const char* pattern) {
    const std::regex name(pattern, std::regex::ECMAScript | std::regex::icase);
    Asset found;
    ForEachValue(answer, "browser_download_url", [&](std::string_view link) {
        const std::size_t slash = link.rfind('/');
        const std::string_view file = slash == std::string_view::npos ? link : link.substr(slash + 1);
        if (file.size() > kLongestFileName || !std::regex_match(file.begin(), file.end(), name)) return true;
        found = {std::string(link), DigestAround(answer, static_cast<std::size_t>(link.data() - answer.data()))};
        return false;
    });
    return found;
}

}  // namespace setup
