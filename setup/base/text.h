// Text shown to the user, placed on command lines or read from a file. Portable: no Windows
// headers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace setup {

// The path between double quotes, so that a child parsing its command line (CommandLineToArgvW,
// the C runtime) gets the path exactly: backslashes at its end (a drive root, "D:\Games\") are
// doubled, since a backslash would escape the closing quote. Windows paths can't hold a quote.
std::wstring Quote(const std::filesystem::path& path);

// Whether `text` holds anything beyond ASCII, which some build tools can't handle in a path.
bool HasNonAscii(std::wstring_view text);

// "1.5 GB" from 2^30 bytes up, "512 MB" below (GB = 2^30 bytes, MB = 2^20 bytes).
std::wstring FormatSize(std::uintmax_t bytes);

// A file's bytes, as they are; "" when it can't be read.
std::string FileText(const std::filesystem::path& file);

}  // namespace setup
