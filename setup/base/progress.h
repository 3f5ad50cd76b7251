// The build script's output lines as the window shows them. Portable: no Windows headers.
//
// The lines are matched by hand rather than with std::regex: libstdc++'s std::regex recurses
// once per character it consumes, and a build line can be megabytes long. Each line is read once
// from its start, in constant memory, with the results of the expressions named below.
#pragma once

#include <optional>
#include <string_view>

namespace setup {

// What one line asks of the window.
struct BuildProgress {
    std::optional<std::string_view> status;  // a new status text: the line's bytes after "==> "
    std::optional<int> percent;              // a bar position; -1 is the marquee
};

// The first rule that fits wins:
// 1. A line beginning "==> ": the rest is the status text, and the bar shows the marquee.
// 2. A line matching ^\[([0-9]+)/([0-9]+)\] with a total above 0: done * 100 / total, cut
//    towards zero. Nothing keeps it within 100: a done count above the total gives more (the
//    window shows 100), and a counter that starts again moves the bar back.
// 3. A line matching ^\s*([0-9]+)% (\s being ASCII white space): that number.
// Anything else moves nothing. So does a line whose number, or whose percentage, is too large
// for a 32-bit int: the script has lost count there, and the bar keeps its last true position.
// The percentage is worked out in 64 bits, so a large done count still gives the right share.
BuildProgress ParseBuildLine(std::string_view line);

}  // namespace setup
