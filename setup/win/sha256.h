// The SHA-256 of a file, by the system's own BCrypt. Any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace setup::win {

// In lowercase hex; "" when the file can't be read.
std::string FileSha256(const std::filesystem::path& file);

// Of the `length` bytes at `offset` of the file (a disc image's default.xex); "" when the file
// can't give them all.
std::string FileSha256(const std::filesystem::path& file, std::uint64_t offset, std::uint64_t length);

}  // namespace setup::win
