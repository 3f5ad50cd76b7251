// What the last build that succeeded was made from, and whether a run of an existing install has
// anything new to build: a player asks an update for a fix, and shouldn't wait half an hour to
// learn there was none. Worker thread.
#pragma once

#include <filesystem>

namespace setup {

// Before a build: the record of the last one goes.
void ForgetBuilt(const std::filesystem::path& repo);

// After a build whose launcher is there: the commit it was made from, as the repository's own
// files name it.
void RecordBuilt(const std::filesystem::path& repo);

// Whether GitHub's newest commit of what this run would build (the branch the repository follows,
// or the latest release) is the one built last, with its launcher there, and the player chose
// not to rebuild it. A lookup that fails says why in the log, and gives false.
bool UpToDate(const std::filesystem::path& repo);

}  // namespace setup
