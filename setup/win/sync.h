// Folders that a cloud service keeps in sync (OneDrive, and others through the same system
// API). Either thread.
#pragma once

#include <filesystem>
#include <string>

namespace setup::win {

// The name of the program whose sync root holds `folder`, an existing folder, as the program
// registered it; "" when none does, or the system has no cloud-files API (Wine).
std::wstring SyncProvider(const std::filesystem::path& folder);

}  // namespace setup::win
