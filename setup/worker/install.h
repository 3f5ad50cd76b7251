// The install worker as the window starts it: one run from the Install button to the final
// message, with the player's choices. The window's one way into the worker.
#pragma once

#include <cstdint>
#include <string>

namespace setup {

// The user's choices for one run, copied into the install worker, which owns its copy.
struct Choices {
    std::wstring source;     // the disc image or extracted disc folder; may be empty
    std::wstring dir;        // the install folder; never empty once a run starts
    bool shortcut = true;    // add a desktop shortcut to the launcher
    bool cleanup = false;    // delete the build tools and leftovers afterwards
    bool deleteIso = false;  // delete the disc image once extracted; never for a folder
};

// Room a build needs: with the disc still to extract, and with its files already extracted.
constexpr std::uint64_t kNeededFresh = std::uint64_t{12} << 30;
constexpr std::uint64_t kNeededExtracted = std::uint64_t{6} << 30;

// The worker thread's body. Ends by posting the finished message with the final message; no
// exception leaves it.
void Install(Choices choices);

}  // namespace setup
