// The build tools: Git, CMake, Ninja, Clang and Python, each taken from the PATH, from the
// install's tools folder, or downloaded and unpacked there.
#pragma once

#include <filesystem>

namespace setup {

// Makes every tool runnable by bare name for the child processes that follow: the folder of
// each one that wasn't already on the PATH goes in front of this process's PATH, so that
// afterwards the tool folders stand in reverse table order (Python's first). Fails with the
// message of the step that went wrong, or "Cancelled.".
void PrepareTools(const std::filesystem::path& dir);

}  // namespace setup
