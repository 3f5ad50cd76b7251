#include "find.h"

namespace fs = std::filesystem;

namespace setup {

fs::path FindOnPath(const std::wstring& path, const wchar_t* program) {
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring piece = path.substr(start, end - start);
        start = end + 1;
        if (piece.empty() || piece.find(L"WindowsApps") != std::wstring::npos) continue;
        const fs::path candidate = fs::path(piece) / program;
        std::error_code ec;
        if (fs::exists(candidate, ec)) return candidate;
    }
    return {};
}

fs::path FindUnder(const fs::path& folder, const wchar_t* program) {
    constexpr int kDeepest = 3;  // the folder's own entries are depth 0
    const fs::path name = program;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec);
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (it->is_directory(ec)) {
            if (it.depth() == kDeepest) it.disable_recursion_pending();
        } else if (it->path().filename() == name) {
            return it->path();
        }
    }
    return {};
}

}  // namespace setup
