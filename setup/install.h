// The install worker: one run from the Install button to the final message, phase by phase.
// Install is the worker thread's body; the rest is for the phases, on that thread.
#pragma once

#include "choices.h"

#include <filesystem>
#include <string>

namespace setup {

// What one run hands from phase to phase.
struct RunValues {
    std::filesystem::path repo;     // dir + "quorin-recomp", made by the game-copy phase
    bool alreadyExtracted = false;  // the game's files were in the install when the run began
    std::wstring message;           // the final message
    bool success = false;           // set only after the last phase
};

// The worker thread's body. Ends by posting the finished message with the final message; no
// exception leaves it.
void Install(Choices choices);

}  // namespace setup
