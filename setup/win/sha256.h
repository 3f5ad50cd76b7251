// The SHA-256 of a file, by the system's own BCrypt.
#pragma once

#include <filesystem>
#include <string>

namespace setup {

// In lowercase hex; "" when the file can't be read.
std::string FileSha256(const std::filesystem::path& file);

}  // namespace setup
