// Deleting and moving what Setup made on disk, as a player's PC needs it: never through a folder
// link, and waiting out the moment for which a virus scanner holds a file that was just written.
// The install worker's thread (the tests' own too).
#pragma once

#include "win/handle.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <functional>

namespace setup::win {

// How long deletes and renames wait for locked files to be let go: about 5 s of pauses for a
// whole job, a tree or every item of a freeing of space, so that a job full of locked files costs
// the wait once. Only the pauses draw on it: the time spent deleting costs nothing. Set `cancel`
// and the waiting ends at once.
struct Patience {
    explicit Patience(const std::atomic<bool>* cancel = nullptr) : cancel(cancel) {}
    unsigned left = 5000;  // ms of pauses still allowed
    unsigned pause = 20;   // ms before the next try, doubled after each, up to a second
    const std::atomic<bool>* cancel;
};

// Told of each file or folder that a removal left, with the system's error.
using Unremoved = std::function<void(const std::filesystem::path&, DWORD error)>;

// Deletes a file, or a folder with everything in it, lifting read-only marks (git sets them).
// A link is removed only where that removes the link alone (on Windows); under Wine it stays,
// with the folders that hold it. A reparse point that isn't a link (a OneDrive placeholder) is
// deleted as a file or folder. Locked files are tried again while `patience` lasts. True when
// nothing is left of it, also when there was nothing; else `unremoved` (when set) heard of each
// path that stayed for a reason of its own (not the folders that hold it).
bool RemoveTree(const std::filesystem::path& path, Patience& patience, const Unremoved& unremoved = {});
bool RemoveTree(const std::filesystem::path& path);  // with a patience of its own

// Renames a folder, trying again as long as RemoveTree would. False when `to` exists; the
// system's error is then the thread's last error.
bool MoveFolder(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes `folder` and whatever folders above it are missing. 0 when it is there, or the system's
// error (ERROR_ALREADY_EXISTS for a file in its place).
DWORD MakeFolders(const std::filesystem::path& folder);

// Holds `file` in `lock`: made if need be, open without sharing, and deleted once let go, which
// the system does whatever ends this process, so that a lock left by a killed run never blocks.
// False when another process holds it. One that can't be made for another reason (a folder that
// can't be written) keeps nothing from going on: it isn't held, and gives true. The system's
// error is the thread's last error when nothing is held.
bool Lock(const std::filesystem::path& file, FileHandle& lock);

}  // namespace setup::win
