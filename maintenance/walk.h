// Walking a folder tree without ever going through a folder link: a junction, or a symbolic link
// to a folder. MinGW's standard library doesn't know Windows links: it takes a linked folder for
// a plain one and walks into it, so whatever walks or deletes a tree goes through here.
#pragma once

#include <cstdint>
#include <filesystem>

namespace kel::maintenance {

// Whether a reparse point with this tag is a link: its tag is a name surrogate (a junction, a
// symbolic link, a WSL link), or 0, or couldn't be read (0 too). Wine gives its links no tag.
// Every other tag marks an ordinary file or folder that the system keeps its own way: a cloud
// placeholder of a OneDrive folder, a deduplicated or compressed (Compact OS) file.
bool IsLinkTag(std::uint32_t tag);

// Whether `path` itself is a link, as the system lists it; what it leads to isn't looked at.
bool IsLink(const std::filesystem::path& path);

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
        if (next == Next::kSkipFolder || (it->is_directory(ec) && IsLink(it->path()))) it.disable_recursion_pending();
    }
}

}  // namespace kel::maintenance
