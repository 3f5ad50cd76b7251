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

// One of git's progress lines, as "--progress" makes it print them to a pipe, each but the last of
// its stage ended by a CR alone: "Receiving objects:  45% (1234/2742), 12.00 MiB | 3.00 MiB/s",
// "remote: Counting objects: 100% (18/18), done.".
struct GitProgress {
    std::string_view stage;  // "Receiving objects", "remote: Counting objects"
    int percent;
};

// A line of the stage's name, a colon, white space, 0 to 100 and "% (": what git prints as it goes;
// nullopt for any other line.
std::optional<GitProgress> ParseGitProgress(std::string_view line);

}  // namespace setup
