// Scanning the JSON answers of web services without parsing them, and the small readers that
// other scanners of outside text share. Portable: no Windows headers.
//
// libstdc++'s std::regex recurses once per character it consumes, so a hostile answer (a string
// value or a run of white space many megabytes long) would overflow the stack. The fixed
// key-value pattern is therefore walked by hand, with exactly the regular expression's results,
// and only short, bounded texts are handed to std::regex.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace setup {

// A longer file name can't be saved on Windows (255 UTF-16 units, even when escaped in a URL),
// so it never fits an asset pattern and is never handed to std::regex.
constexpr std::size_t kLongestFileName = 1024;

// Where the run of white space at `at` ends (what \s matches over bytes in the "C" locale).
std::size_t SkipSpace(std::string_view text, std::size_t at);

// Reads the run of ASCII digits at `at` and moves `at` past its end. Gives its value, or -1 when
// that is too large for an int (the digits are still read to their end).
long long ReadNumber(std::string_view text, std::size_t& at);

// Walks the string values of `key` in document order: the group 1 of every match of the
// ECMAScript expression "key"\s*:\s*"([^"]+)", walked match after match as
// std::sregex_iterator does (\s being the ASCII white space). No unescaping: a value ends at the
// first quote. `value` returns false to stop the walk.
void ForEachValue(std::string_view text, std::string_view key, const std::function<bool(std::string_view)>& value);

// The first value of `key`, or "" when there is none.
std::string FirstValue(std::string_view text, std::string_view key);

// The newest version of a release series listed in an index as a quoted string: group 1 of the
// matches of the ECMAScript expression "(<series>\.[0-9]+)", walked as std::sregex_iterator does,
// with the highest patch number (the digits after the series and its dot, compared as a number:
// 10 beats 9; of equal numbers the first listed stays). "3.12.1rc1" and "3.12.1.2" don't match.
// A patch number beyond INT_MAX is passed over: no package has one, and only a hostile index
// lists it. "" when nothing matches. Linear in the index, whatever it holds.
std::string NewestPatch(std::string_view index, std::string_view series);

// A file of a release: its download link, and its SHA-256 in lowercase hex when the release
// gives one ("" when not).
struct Asset {
    std::string link;
    std::string sha256;
};

// The first "browser_download_url" whose file name (the text after its last "/") matches the
// whole ECMAScript `pattern`, ignoring case (an empty link when none fits), with the "digest"
// ("sha256:" and 64 hex digits) of the same asset: a member of the JSON object that holds that
// link, never of another one.
Asset FindAsset(std::string_view answer, const char* pattern);

}  // namespace setup
