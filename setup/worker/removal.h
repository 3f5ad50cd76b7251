// Deleting what Setup made, as the install worker does it: as win::RemoveTree does, with each
// file or folder that stays named in the log with the system's reason. Worker thread.
#pragma once

#include "win/files.h"

#include <filesystem>

namespace setup {

// Names in the log what a deletion left: "Couldn't delete <path> (error 32: ...)". The first ten
// of one job only, so that a folder of thousands held by one program doesn't flood the log.
struct LogUnremoved {
    int named = 0;
    void operator()(const std::filesystem::path& path, DWORD error);
};

// Deletes `path` as win::RemoveTree does, with a patience of its own, and logs what stays.
bool Remove(const std::filesystem::path& path);

}  // namespace setup
