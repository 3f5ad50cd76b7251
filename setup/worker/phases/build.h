// The build step of a run (worker thread): the project's own build script, with the game copy
// when the game's files aren't extracted yet, its output driving the status line and the bar.
#pragma once

#include "worker/phases/values.h"

namespace setup {

// Runs "python -u tools\build.py" in the repository folder, with " --iso " and the quoted game
// copy unless run.alreadyExtracted. Sets s_installed to the launcher, then fails unless it is
// there; fails when the script does.
void BuildGame(const Choices& choices, const RunValues& run);

}  // namespace setup
