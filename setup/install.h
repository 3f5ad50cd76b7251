// The install worker: one run from the Install button to the final message, phase by phase.
#pragma once

#include "choices.h"

#include <filesystem>
#include <string>

namespace setup {

// The install folder's layout.
std::filesystem::path RepoFolder(const std::filesystem::path& dir);        // dir\quorin-recomp
std::filesystem::path ExtractedMarker(const std::filesystem::path& repo);  // its game\extracted\default.xex

// Anything of that name, after following links; an error counts as missing.
bool Exists(const std::filesystem::path& path);

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
