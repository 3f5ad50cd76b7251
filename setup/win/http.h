// The program's one network operation: an HTTP(S) GET through WinHTTP.
#pragma once

#include <filesystem>
#include <string>

namespace setup {

// Fetches `url`, appending the body to `body` and/or writing it to `file` (either may be null).
// The file is created (truncated) as soon as the answer's head is in, so any answer but 200
// leaves it empty. With a `label`, the progress bar and the status line follow the download,
// "Downloading <label>: 12 MB of 48 MB", updated at most once per whole percent.
//
// True when the server answered 200 and the whole body arrived (all of Content-Length, or the
// stream ended when there was none). False on anything else, without a message: no network, a
// time-out, another status, a short body, a file that can't be opened, or a cancel seen between
// chunks (the file keeps what was written). Redirects are followed.
bool Get(const std::wstring& url, std::string* body, const std::filesystem::path* file, const wchar_t* label);

}  // namespace setup
