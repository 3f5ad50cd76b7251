// The downloads of a run, as the install worker makes them: what goes wrong in the log, how far
// a labelled one is on the bar and the status line, a cancel through s_cancel. Worker thread.
#pragma once

#include <filesystem>
#include <string>

namespace setup {

// What a download asks for; each call names the fields it needs.
struct Download {
    std::wstring url{};
    std::string* body = nullptr;                  // the body is appended here,
    const std::filesystem::path* file = nullptr;  // and/or written to this file
    std::string sha256{};                         // the file's, in lowercase hex, when known
    std::string* head = nullptr;                  // the last answer's head, as win::Get leaves it
    // Names the download in the log, else its url. With a label, the progress bar and the status
    // line follow the download, "Downloading <label>: 12 MB of 48 MB", updated at most once per
    // whole percent (a status that stays out of the log).
    const wchar_t* label = nullptr;
    std::wstring headers{};  // more request headers, each ending in CR LF ("Accept: ...\r\n")
    // Set: what goes wrong is told here instead of the log, each line in place of the one before.
    std::wstring* why = nullptr;
};

// Fetches as win::Get does, and fails with "Cancelled." once the user cancelled: a lookup or a
// download cut short by a cancel never reads as a network that failed.
bool Get(const Download& download);

}  // namespace setup
