#include "maintenance/maintenance.h"

#include "maintenance/layout.h"
#include "maintenance/walk.h"

#include <cwctype>

namespace fs = std::filesystem;

namespace kel::maintenance {
namespace {

// Calls `visit` with every regular file's directory entry below `folder`, whose queries (type,
// size) come from the listing itself where the platform supplies them.
template <typename Visit>
void ForEachFile(const fs::path& folder, Visit visit) {
    Walk(folder, [&visit](const fs::directory_entry& entry, int) {
        std::error_code ec;
        if (entry.is_regular_file(ec)) visit(entry);
        return Next::kGoOn;
    });
}

// A size that can't be read counts as nothing: the total is only shown to the user.
std::uintmax_t SizeOrZero(const fs::directory_entry& entry) {
    std::error_code ec;
    const std::uintmax_t size = entry.file_size(ec);
    return ec ? 0 : size;
}

}  // namespace

Part Tools(const fs::path& root) {
    Part part{kToolsLabel, {}, 0};
    const fs::path tools = layout::ToolsFolder(root.parent_path());
    for (const wchar_t* made : kSetupOnlyTools) {
        if (IsFolder(layout::ToolFolder(tools, made))) {
            part.size = SizeOf(tools);
            part.paths.push_back(tools);
            break;
        }
    }
    return part;
}

Part Leftovers(const fs::path& root) {
    Part part{L"Build leftovers (object files, libraries, generated C++)", {}, 0};
    const fs::path build = layout::BuildFolder(root);
    if (IsFolder(build)) {
        ForEachFile(build, [&part](const fs::directory_entry& file) {
            for (const wchar_t* suffix : kLeftoverExtensions) {
                if (Lower(file.path(), suffix)) {
                    part.size += SizeOrZero(file);
                    part.paths.push_back(file.path());
                    return;
                }
            }
        });
    }
    const fs::path generated = layout::GeneratedFolder(root);
    if (IsFolder(generated)) {
        part.size += SizeOf(generated);
        part.paths.push_back(generated);
    }
    return part;
}

bool Lower(const fs::path& file, const wchar_t* suffix) {
    std::wstring extension = file.extension().wstring();
    for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
    return extension == suffix;
}

std::uintmax_t SizeOf(const fs::path& target) {
    std::error_code ec;
    if (fs::is_regular_file(target, ec)) return SizeOrZero(fs::directory_entry(target, ec));
    if (IsLink(target)) return 0;  // what a linked folder holds isn't the install's, nor freed with it
    std::uintmax_t total = 0;
    ForEachFile(target, [&total](const fs::directory_entry& file) { total += SizeOrZero(file); });
    return total;
}

}  // namespace kel::maintenance
