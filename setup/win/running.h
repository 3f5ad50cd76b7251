// The programs running now whose files lie in a given folder, as the install worker looks for
// them before it writes there. Any thread.
#pragma once

#include <windows.h>

#include <filesystem>
#include <vector>

namespace setup::win {

// The files of the programs running within `folder` (see IsWithin), this process aside, and
// those in `job` (a run's own children) when one is given. Programs that won't say which file
// they run are left out.
std::vector<std::filesystem::path> RunningWithin(const std::filesystem::path& folder, HANDLE job = nullptr);

}  // namespace setup::win
