#include "win/files.h"

#include "maintenance/walk.h"
#include "win/wait.h"

#include <windows.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace setup::win {
namespace {

// What a scanner, an indexer or a preview holding a file looks like; a folder whose last files
// are still being deleted (held with delete sharing) isn't empty yet.
bool Locked(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_DIR_NOT_EMPTY;
}

// Tries `attempt` (a system call that sets the last error) until it succeeds, it fails for
// another reason than a lock, or patience runs out.
template <typename Attempt>
bool Retrying(Patience& patience, Attempt attempt) {
    for (;;) {
        if (attempt()) return true;
        if (!Locked(GetLastError()) || patience.pause > patience.left) return false;
        WaitUnlessCancelled(patience.cancel, patience.pause);
        if (patience.cancel && *patience.cancel) return false;
        patience.left -= patience.pause;
        patience.pause = std::min(patience.pause * 2, 1000u);
    }
}

// Removes the link itself. On Windows a delete through a handle on the reparse point acts on the
// link alone; Wine refuses it (and RemoveDirectoryW on a link acts on its target there), so under
// Wine the link stays.
bool RemoveLink(const fs::path& link) {
    const FileHandle handle(CreateFileW(link.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_DISPOSITION_INFO dispose{TRUE};
    return handle && SetFileInformationByHandle(handle.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

}  // namespace

bool RemoveTree(const fs::path& path, Patience& patience, const Unremoved& unremoved) {
    const auto stayed = [&](DWORD error) {
        if (unremoved) unremoved(path, error);
        return false;
    };
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || stayed(error);
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && kel::maintenance::IsLink(path))
        return RemoveLink(path) || stayed(GetLastError());  // nothing scans a link
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Retrying(patience, [&] { return DeleteFileW(path.c_str()); }) || stayed(GetLastError());
    bool all = true;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; it != end; it.increment(error))
        all = RemoveTree(it->path(), patience, unremoved) && all;
    if (error) return stayed(GetLastError());  // the listing's own: nothing has run since it failed
    return !all || Retrying(patience, [&] { return RemoveDirectoryW(path.c_str()); }) ? all : stayed(GetLastError());
}

bool RemoveTree(const fs::path& path) {
    Patience patience;
    return RemoveTree(path, patience);
}

bool MoveFolder(const fs::path& from, const fs::path& to) {
    Patience patience;
    return Retrying(patience, [&] { return MoveFileExW(from.c_str(), to.c_str(), 0); });
}

DWORD MakeFolders(const fs::path& folder) {
    const auto isFolder = [&] {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    if (isFolder() || CreateDirectoryW(folder.c_str(), nullptr)) return 0;
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND && folder.parent_path() != folder) {
        if (const DWORD above = MakeFolders(folder.parent_path())) return above;
        if (CreateDirectoryW(folder.c_str(), nullptr)) return 0;
        error = GetLastError();
    }
    return error == ERROR_ALREADY_EXISTS && isFolder() ? 0 : error;  // another thread may have made it
}

bool Lock(const fs::path& file, FileHandle& lock) {
    lock.Attach(CreateFileW(file.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return lock || GetLastError() != ERROR_SHARING_VIOLATION;
}

}  // namespace setup::win
