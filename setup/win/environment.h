// This process's environment, which every child inherits: the PATH that the tools phase extends,
// git's settings and the proxies, Python's encoding; and the system it runs on: its version and
// the drives' free space. Either thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace setup::win {

// A variable as it is now, such as PATH; "" when unset.
std::wstring Variable(const wchar_t* name);

// Sets a variable for this process and what it starts; an empty value removes it.
void SetVariable(const std::wstring& name, const std::wstring& value);

// The Windows version, "10.0.22631", as the system knows it: GetVersionExW tells a program
// without a manifest that names the newest Windows an older one.
std::wstring WindowsVersion();

// The bytes free for this user on the drive that holds `folder`, which must exist; none when the
// system can't tell.
std::optional<std::uint64_t> FreeBytes(const std::filesystem::path& folder);

// "412 GB free on C:\": the free space of the drive that holds `folder`, for this user.
std::wstring FreeSpaceOn(const std::filesystem::path& folder);

}  // namespace setup::win
