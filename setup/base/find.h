// Finding a tool's program: on the PATH, or inside the folder an archive was unpacked into.
// Portable: no Windows headers.
#pragma once

#include <filesystem>
#include <string>

namespace setup {

// The first `program` in the folders of a PATH value, in order. Empty and relative pieces, and
// folders of app-store aliases ("WindowsApps", whose python.exe only opens the store), are
// skipped. Returns an empty path when none holds it.
std::filesystem::path FindOnPath(const std::wstring& path, const wchar_t* program);

// The first file named exactly `program` (letter case included) in `folder` or up to three
// folder levels below it, depth first in the order the file system lists entries. Linked
// folders below it are not entered. Returns an empty path when there is none.
std::filesystem::path FindUnder(const std::filesystem::path& folder, const wchar_t* program);

}  // namespace setup
