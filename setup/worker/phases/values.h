// What one run hands from phase to phase. Worker thread.
#pragma once

#include "worker/install.h"

#include <filesystem>
#include <string>

namespace setup {

struct RunValues {
    std::filesystem::path repo;     // dir + "quorin-recomp", made by the game-copy phase
    bool alreadyExtracted = false;  // the game's files were in the install when the run began
    std::wstring message;           // the final message
    bool success = false;           // set only after the last phase
};

}  // namespace setup
