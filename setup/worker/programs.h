// The child programs of a run (tar, git, the build script), as the install worker runs them:
// hidden, inside the job that Cancel and closing end, their output in the log. Worker thread.
#pragma once

#include "base/lines.h"

#include <filesystem>
#include <string>

namespace setup {

// Runs `commandLine` in `folder` (the current folder when empty), as win::Run does, with its
// lines in the log and a cancel through s_cancel, and returns its exit code. Fails with
// "Couldn't create a pipe.", "Couldn't start: " + the command line (the log says why), or
// "Cancelled." when s_cancel is set before the child starts or once it has ended.
int Run(const std::wstring& commandLine, const std::filesystem::path& folder, const LineCallback& line = {});

}  // namespace setup
