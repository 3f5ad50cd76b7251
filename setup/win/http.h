// The program's one network operation: an HTTP(S) GET through WinHTTP. Called on the install
// worker's thread (the tests' own too); what a download tells, and how it is stopped, is the
// caller's, through a DownloadContext.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace setup::win {

// What a download takes from its caller.
struct DownloadContext {
    // A line for the log about a try that failed, and whether it is tried again.
    std::function<void(const std::wstring&)> log;
    // How far it is: once per whole percent, the bytes received and the whole length (percent -1
    // and length 0 when the answer gives none). May be empty.
    std::function<void(int percent, std::uint64_t received, std::uint64_t length)> progress;
    const std::atomic<bool>* cancel = nullptr;  // set: every wait ends at once, and the download fails
    std::wstring headers{};  // more request headers, each ending in CR LF ("Accept: ...\r\n")
};

// Fetches `url`, appending the body to `body` and/or writing it to `file` (either may be null).
// The file is created (truncated) as soon as the first answer's head is in, so an answer other
// than 200 leaves it empty.
//
// A try that fails on the way (the connection broke or timed out, a 5xx status, a body shorter
// than its length, a file whose SHA-256 isn't `sha256` when that is given) is tried again, as
// StepAfter (base/retry.h) decides; each retry is logged. Every try asks `url` again (redirects
// are followed), and a file goes on from the bytes it already holds when the server can send the
// rest (a 206 for its Range); else it starts over.
//
// True when an answer was 200 (or the 206 to go on with) and the whole body arrived: all of its
// length, or the stream's clean end when it had none. False on anything else, with one line in
// the log that says why (the system's error, the HTTP status, "the disk is full"), except for a
// cancel, which ends any wait, and the download, before its next piece. The head of the last
// answer is left in `head` when given, and for an answer that isn't the download, the first 4 KiB
// of its body after the empty line that ends the head.
bool Get(const std::wstring& url, std::string* body, const std::filesystem::path* file, const std::string& sha256,
         std::string* head, const DownloadContext& context);

}  // namespace setup::win
