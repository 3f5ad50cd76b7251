// Running child processes: hidden, inside the job object, with their output streamed line by
// line into the log and an optional callback.
#pragma once

#include "handle.h"
#include "lines.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace setup {

// A new job object whose processes all end when its last handle is closed (s_job, for the
// children that Run starts); empty when the system wouldn't make one.
Handle NewJob();

// A variable of this process's environment as it is now, such as PATH; "" when unset.
std::wstring Variable(const wchar_t* name);

// Runs `commandLine` in `folder`, or in the current folder when `folder` is empty, and returns its
// exit code. The program is the command line's first word: a path, or a bare name (git, python)
// that is looked for in the PATH's folders alone, never in this program's own folder or the
// current one, where anything may lie. Only the output pipe and standard input reach the child.
// Standard output and error arrive merged, cut into non-empty lines: each goes to `line` (when
// set), then to Log, except the build's progress lines (see IsProgressLine) and git's: of these
// only the last of each stage is logged (see ParseGitProgress). Logs "$ " + the
// command line first. Returns once the program has ended and its output is read; what it left
// running (which may hold the output for ever) is given about 2 s more, then stays in the job.
//
// Fails with "Couldn't create a pipe.", "Couldn't start: " + the command line (also when the
// child can't be put into the job, which would leave it outside Cancel's reach), or
// "Cancelled." when s_cancel is set once the child has ended. An exception from `line` leaves
// at once; the child then ends with its broken pipe, or with the job.
int Run(const std::wstring& commandLine, const std::filesystem::path& folder, const LineCallback& line = {});

// Runs "git -C <repository> <arguments>" in the repository and keeps its first non-empty
// output line in `output` (possibly an error text, since standard error is merged). True when
// git exited with 0.
bool GitOutput(const std::filesystem::path& repository, const std::wstring& arguments, std::string& output);

}  // namespace setup
