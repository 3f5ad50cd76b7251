// The child programs of a run (tar, git, the build script), as the install worker runs them:
// hidden, inside the job that Cancel and closing end, their output in the log. Worker thread.
#pragma once

#include "base/lines.h"

#include <filesystem>
#include <string>

namespace setup {

// Runs `commandLine` in `folder` (the current folder when empty), as win::Run does, with a cancel
// through s_cancel, and returns its exit code. Each line of the output goes to `line` (when set),
// then to the log, but for what would only fill it up: of git's progress (see ParseGitProgress)
// only the last line of each stage, logged once the stage is over or the output ends, and none of
// the build script's percentage lines (see IsProgressLine). An unterminated last piece is always
// logged. Fails with "Couldn't create a pipe.", "Couldn't start: " + the command line (the log
// says why), or "Cancelled." when s_cancel is set before the child starts or once it has ended.
int Run(const std::wstring& commandLine, const std::filesystem::path& folder, const LineCallback& line = {});

// Runs the build script as Run does, each line moving the status line and the bar as
// ParseBuildLine reads it.
int RunBuildScript(const std::wstring& commandLine, const std::filesystem::path& folder);

}  // namespace setup
