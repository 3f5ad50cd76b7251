// Running child processes: hidden, inside the job object, with their output streamed line by
// line into the log and an optional callback.
#pragma once

#include "lines.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace setup {

// A new job object whose processes all end when its last handle is closed: s_job, for the
// children that Run starts.
HANDLE NewJob();

// Runs `commandLine` (found the way CreateProcessW searches: application folder, current folder,
// system folders, PATH) in `folder`, or in the current folder when `folder` is empty, and
// returns its exit code. Standard output and error arrive merged, cut into non-empty lines:
// each goes to `line` (when set), then to Log, except the build's progress lines (see
// IsProgressLine). Logs "$ " + the command line first.
//
// Fails with "Couldn't create a pipe.", "Couldn't start: " + the command line, or "Cancelled."
// when s_cancel is set once the child has ended. An exception from `line` leaves at once; the
// child then ends with its broken pipe, or with the job.
int Run(const std::wstring& commandLine, const std::filesystem::path& folder, const LineCallback& line = {});

// Runs "git -C <repository> <arguments>" in the repository and keeps its first non-empty
// output line in `output` (possibly an error text, since standard error is merged). True when
// git exited with 0.
bool GitOutput(const std::filesystem::path& repository, const std::wstring& arguments, std::string& output);

}  // namespace setup
