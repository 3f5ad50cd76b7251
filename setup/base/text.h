// Text shown to the user or placed on command lines. Portable: no Windows headers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace setup {

// The path between double quotes, as command lines take it. Nothing inside is escaped: Windows
// paths can't hold a double quote, and a drive root keeps its backslash before the closing quote.
std::wstring Quote(const std::filesystem::path& path);

// "1.5 GB" from 2^30 bytes up, "512 MB" below (GB = 2^30 bytes, MB = 2^20 bytes).
std::wstring FormatSize(std::uintmax_t bytes);

}  // namespace setup
