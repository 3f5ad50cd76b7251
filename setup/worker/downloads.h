// The downloads of a run, as the install worker makes them: what goes wrong in the log, how far
// a labelled one is on the bar and the status line, a cancel through s_cancel. Worker thread.
#pragma once

#include <filesystem>
#include <string>

namespace setup {

// Fetches `url` as win::Get does, and fails with "Cancelled." once the user cancelled: a lookup or
// a download cut short by a cancel never reads as a network that failed. The log's lines name the
// download by `label`, or by `url` without one. With a `label`, the progress bar and the status
// line follow the download, "Downloading <label>: 12 MB of 48 MB", updated at most once per whole
// percent (a status that stays out of the log).
bool Get(const std::wstring& url, std::string* body, const std::filesystem::path* file, const wchar_t* label,
         const std::string& sha256 = {}, std::string* head = nullptr);

}  // namespace setup
