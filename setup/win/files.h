// Deleting and moving what Setup made on disk, as a player's PC needs it: never through a folder
// link, and waiting out the moment for which a virus scanner holds a file that was just written.
#pragma once

#include <filesystem>

namespace setup {

// Deletes a file, or a folder with everything in it, lifting read-only marks (git sets them).
// A link is removed only where that removes the link alone (on Windows); under Wine it stays,
// with the folders that hold it. Locked files are tried again for about 5 s in all. True when
// nothing is left of it, also when there was nothing.
bool RemoveTree(const std::filesystem::path& path);

// Renames a folder, trying again as long as RemoveTree would. False when `to` exists.
bool MoveFolder(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace setup
