// Scanning the JSON answers of web services without parsing them. Portable: no Windows headers.
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

// Walks the string values of `key` in document order: the group 1 of every match of the
// ECMAScript expression "key"\s*:\s*"([^"]+)", walked match after match as
// std::sregex_iterator does (\s being the ASCII white space). No unescaping: a value ends at the
// first quote. `value` returns false to stop the walk.
void ForEachValue(std::string_view text, std::string_view key, const std::function<bool(std::string_view)>& value);

// The first value of `key`, or "" when there is none.
std::string FirstValue(std::string_view text, std::string_view key);

// The first "browser_download_url" whose file name (the text after its last "/") matches the
// whole ECMAScript `pattern`, ignoring case; "" when none fits.
std::string FindAsset(std::string_view answer, const char* pattern);

}  // namespace setup
