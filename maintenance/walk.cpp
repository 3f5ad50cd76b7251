#include "walk.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kel::maintenance {

bool IsLinkedFolder(const std::filesystem::directory_entry& entry) {
#ifdef _WIN32
    // Wine shows a Unix link to a folder as a reparse point too, as Windows shows a junction.
    const DWORD attributes = GetFileAttributesW(entry.path().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    std::error_code ec;
    return entry.is_symlink(ec);
#endif
}

bool IsFolder(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace kel::maintenance
