// The program's one network operation: an HTTP(S) GET through WinHTTP.
#pragma once

#include <filesystem>
#include <string>

namespace setup {

// Fetches `url`, appending the body to `body` and/or writing it to `file` (either may be null).
// The file is created (truncated) as soon as the first answer's head is in, so an answer other
// than 200 leaves it empty. With a `label`, the progress bar and the status line follow the
// download, "Downloading <label>: 12 MB of 48 MB", updated at most once per whole percent.
//
// A try that fails on the way (the connection broke or timed out, a 5xx status, a body shorter
// than its length, a file whose SHA-256 isn't `sha256` when that is given) is tried again, up to
// four tries in all, after 1, 2 and 4 seconds; each retry is logged. Every try asks `url` again
// (redirects are followed), and a file goes on from the bytes it already holds when the server
// can send the rest (a 206 for its Range); else it starts over.
//
// True when an answer was 200 (or the 206 to go on with) and the whole body arrived: all of
// its length, or the stream's clean end when it had none. False on anything else, with one line
// in the log that says why (a WinHTTP error, the HTTP status, "the disk is full"), except for a
// cancel, which ends any wait at once; after a cancel it is always false. The head of the last
// answer is left in `head` when given, and for an answer that isn't the download, the first
// 4 KiB of its body after the empty line that ends the head.
bool Get(const std::wstring& url, std::string* body, const std::filesystem::path* file, const wchar_t* label,
         const std::string& sha256 = {}, std::string* head = nullptr);

}  // namespace setup
