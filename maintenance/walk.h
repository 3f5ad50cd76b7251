// Walking a folder tree without ever going through a folder link: a junction, or a symbolic link
// to a folder. MinGW's standard library doesn't know Windows links: it takes a linked folder for
// a plain one and walks into it, so whatever walks or deletes a tree goes through here.
#pragma once

#include <filesystem>

namespace kel::maintenance {

// Whether the entry is a link to a folder (on Windows, any folder that is a reparse point).
bool IsLinkedFolder(const std::filesystem::directory_entry& entry);

// Whether `path` is a folder, after following links; an error counts as no folder.
bool IsFolder(const std::filesystem::path& path);

// What a visit asks of the walk.
enum class Next { kGoOn, kSkipFolder, kStop };

// Calls `visit(entry, depth)` for every entry below `folder` (depth 0 for its own entries), depth
// first, each folder's entry before its contents. A linked folder is visited but never entered;
// `folder` itself is taken as it is. Folders that can't be entered for lack of permission are
// skipped; any other error ends the walk. Never throws for a file-system error.
template <typename Visit>
void Walk(const std::filesystem::path& folder, Visit visit) {
    std::error_code ec;
    std::filesystem::recursive_directory_iterator it(folder, std::filesystem::directory_options::skip_permission_denied,
                                                     ec);
    for (const std::filesystem::recursive_directory_iterator end; it != end; it.increment(ec)) {
        const Next next = visit(*it, it.depth());
        if (next == Next::kStop) return;
        if (next == Next::kSkipFolder || (it->is_directory(ec) && IsLinkedFolder(*it))) it.disable_recursion_pending();
    }
}

}  // namespace kel::maintenance
