// Cutting the output of a child process into lines. Portable: no Windows headers.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace setup {

using LineCallback = std::function<void(const std::string&)>;

// Appends `chunk` to the unfinished line in `pending` and hands every complete line to `line`.
// CR or LF ends a line, so CR LF ends one line and then an empty one; empty lines are dropped.
// Afterwards `pending` holds the unterminated rest and never a CR or LF. Each byte is looked at
// once, so a line of many megabytes arriving in small chunks costs no rescans.
void SplitLines(std::string& pending, std::string_view chunk, const LineCallback& line);

// A progress line of the build script: two spaces, then a "%" somewhere. The callback reads it;
// the log would only fill up with it.
bool IsProgressLine(std::string_view line);

}  // namespace setup
