// The SHA-256 of a file, by the system's own BCrypt. Any thread.
#pragma once

#include <filesystem>
#include <string>

namespace setup::win {

// In lowercase hex; "" when the file can't be read.
std::string FileSha256(const std::filesystem::path& file);

}  // namespace setup::win
