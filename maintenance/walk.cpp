#include "maintenance/walk.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kel::maintenance {

bool IsLinkTag(std::uint32_t tag) {
    constexpr std::uint32_t kNameSurrogate = 0x20000000;  // what IsReparseTagNameSurrogate tests
    return tag == 0 || (tag & kNameSurrogate) != 0;
}

bool IsLink(const std::filesystem::path& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    // The tag of the reparse point itself: opening it doesn't follow it, nor fetch a cloud file.
    const HANDLE point = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (point != INVALID_HANDLE_VALUE) {
        if (!GetFileInformationByHandleEx(point, FileAttributeTagInfo, &tag, sizeof tag)) tag.ReparseTag = 0;
        CloseHandle(point);
    }
    return IsLinkTag(tag.ReparseTag);
#else
    std::error_code ec;
    return std::filesystem::is_symlink(path, ec);
#endif
}

bool IsFolder(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace kel::maintenance
