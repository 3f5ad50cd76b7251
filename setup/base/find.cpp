#include "base/find.h"

#include "maintenance/walk.h"

namespace fs = std::filesystem;

namespace setup {

fs::path FindOnPath(const std::wstring& path, const wchar_t* program) {
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring piece = path.substr(start, end - start);
        start = end + 1;
        // A folder relative to wherever this program happens to run ("." or "bin") is no folder of
        // the system's or the user's: anything may lie there.
        if (!fs::path(piece).is_absolute() || piece.find(L"WindowsApps") != std::wstring::npos) continue;
        const fs::path candidate = fs::path(piece) / program;
        std::error_code ec;
        if (fs::exists(candidate, ec)) return candidate;
    }
    return {};
}

fs::path FindUnder(const fs::path& folder, const wchar_t* program) {
    using kel::maintenance::Next;
    constexpr int kDeepest = 3;  // the folder's own entries are depth 0
    const fs::path name = program;
    fs::path found;
    kel::maintenance::Walk(folder, [&](const fs::directory_entry& entry, int depth) {
        std::error_code ec;
        if (entry.is_directory(ec)) return depth == kDeepest ? Next::kSkipFolder : Next::kGoOn;
        if (entry.path().filename() != name) return Next::kGoOn;
        found = entry.path();
        return Next::kStop;
    });
    return found;
}

}  // namespace setup
