#include "win/http.h"

#include "base/retry.h"
#include "base/text.h"
#include "base/web.h"
#include "win/convert.h"
#include "win/errors.h"
#include "win/handle.h"
#include "win/sha256.h"
#include "win/wait.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace setup::win {
namespace {

struct InternetTraits {  // the three WinHTTP handles of one request: NULL when empty
    using Type = HINTERNET;
    static Type Empty() { return nullptr; }
    static void Close(Type handle) { WinHttpCloseHandle(handle); }
};
using Internet = Owner<InternetTraits>;

// What a request shares with its status callback, which WinHTTP calls on a thread of its own,
// or within the call when an operation completes at once. Every operation is asynchronous, so
// that the worker can wait for it together with a cancel: a blocked synchronous call can't be
// woken (under Wine 8 it waits out the receive time-out). The callback frees this when the
// request's handle closes, which can be long after the worker stopped waiting (under Wine, once
// a pending receive times out): until then a read may still fill the buffer.
struct Pending {
    std::atomic<bool> complete{false};  // the operation in progress completed
    // Wakes the worker from another thread. Within its own call it isn't waiting: sparing that
    // wake-up and the wait made downloads half again as fast under Wine (bench/get_bench).
    Handle done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    const DWORD worker = GetCurrentThreadId();
    DWORD error = 0;           // the WinHTTP error it failed with
    DWORD count = 0;           // the bytes it found available, or read
    std::vector<char> buffer;  // what reads fill
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
    auto* pending = reinterpret_cast<Pending*>(context);
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete pending;
        return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        pending->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        pending->count = *static_cast<DWORD*>(info);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        pending->count = length;
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        break;
    default:
        return;
    }
    pending->complete = true;
    if (GetCurrentThreadId() != pending->worker) SetEvent(pending->done.get());
}

// Declared in this order so that they close in reverse: request, connection, session.
struct Request {
    const std::atomic<bool>* cancel = nullptr;  // ends every wait at once when set
    Internet session, connection, handle;
    Pending* pending = nullptr;  // the callback's, once it is set
};

// Waits for the operation that `started` on the request: 0 once it has completed, else the
// WinHTTP error, or ERROR_CANCELLED when the user cancelled first.
DWORD Complete(const Request& request, BOOL started) {
    Pending& pending = *request.pending;
    if (!started) return GetLastError();
    while (!pending.complete)  // a wake-up may be one left from an operation that completed at once
        if (!WaitUnlessCancelled(request.cancel, INFINITE, pending.done.get())) return ERROR_CANCELLED;
    pending.complete = false;
    // One that completed at once saw no cancel.
    return request.cancel && *request.cancel ? ERROR_CANCELLED : pending.error;
}

// Reads the body, handing each piece to `take` until it returns false: 0 at the end of the body
// or when `take` stopped, else the WinHTTP error.
template <typename Take>
DWORD ReadBody(const Request& request, Take take) {
    Pending& pending = *request.pending;
    // Only what is there is read: under Wine, a read that asks for more may wait for it in this
    // thread, where no cancel reaches it.
    for (;;) {
        if (const DWORD error = Complete(request, WinHttpQueryDataAvailable(request.handle.get(), nullptr))) return error;
        const DWORD available = pending.count;
        if (available == 0) return 0;  // the end of the body
        if (pending.buffer.size() < available)
            pending.buffer.resize(std::max<std::size_t>(available, pending.buffer.size() * 2));
        if (const DWORD error =
                Complete(request, WinHttpReadData(request.handle.get(), pending.buffer.data(), available, nullptr)))
            return error;
        if (pending.count == 0 || !take(pending.buffer.data(), pending.count)) return 0;
    }
}

// The errors that a later try may not meet: the connection broke (Wine passes on the socket's
// own errors for that), timed out, or brought a garbled answer. A name that doesn't resolve or a
// connection refused mean no network, or no server, at all, which seconds don't mend: the
// callers say so at once.
bool Transient(DWORD error) {
    return error == ERROR_WINHTTP_TIMEOUT || error == ERROR_WINHTTP_CONNECTION_ERROR ||
           error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || error == WSAECONNRESET || error == WSAECONNABORTED;
}

// The error for the log, in the system's words; Wine has none for WinHTTP's usual ones.
std::wstring Why(DWORD error) {
    const wchar_t* words = error == ERROR_WINHTTP_TIMEOUT                   ? L"timed out"
                           : error == ERROR_WINHTTP_CONNECTION_ERROR        ? L"the connection broke"
                           : error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE ? L"no valid answer"
                           : error == ERROR_WINHTTP_NAME_NOT_RESOLVED       ? L"the server's name is unknown"
                           : error == ERROR_WINHTTP_CANNOT_CONNECT          ? L"couldn't connect"
                           : error == ERROR_WINHTTP_SECURE_FAILURE          ? L"no secure connection"
                                                                            : nullptr;
    return ErrorText(error, words);
}

// A size for the log: in MB, or in bytes while that would read 0 MB.
std::wstring Amount(std::uint64_t bytes) {
    return bytes < (1 << 19) ? std::to_wstring(bytes) + L" bytes" : FormatSize(bytes);
}

// Where the URL points, split into buffers of the sizes that WinHttpCrackUrl allows.
struct Target {
    std::wstring host, object;  // the object: the path and the query
    INTERNET_PORT port = 0;
    bool secure = false;
};

bool Crack(const std::wstring& url, Target& target) {
    wchar_t host[256], path[2048], extra[2048];
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    target = {host, std::wstring(path) + extra, parts.nPort, parts.nScheme == INTERNET_SCHEME_HTTPS};
    return true;
}

// Opens the request with its callback, sends it with `headers` and waits for the answer's head:
// 0, or why not.
DWORD Send(Request& request, const Target& target, const std::wstring& headers) {
    request.session.Attach(WinHttpOpen(L"Quorin-Setup", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!request.session) return GetLastError();
    WinHttpSetTimeouts(request.session.get(), 15000, 15000, 30000, 60000);
    request.connection.Attach(WinHttpConnect(request.session.get(), target.host.c_str(), target.port, 0));
    if (!request.connection) return GetLastError();
    request.handle.Attach(WinHttpOpenRequest(request.connection.get(), L"GET", target.object.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request.handle) return GetLastError();
    auto pending = std::make_unique<Pending>();
    auto context = reinterpret_cast<DWORD_PTR>(pending.get());
    if (!pending->done ||
        !WinHttpSetOption(request.handle.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ||
        WinHttpSetStatusCallback(request.handle.get(), OnStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK)
        return GetLastError();
    request.pending = pending.release();

    const std::wstring all = L"User-Agent: Quorin-Setup\r\n" + headers;
    const BOOL sent = WinHttpSendRequest(request.handle.get(), all.c_str(), static_cast<DWORD>(-1),
                                         WINHTTP_NO_REQUEST_DATA, 0, 0, context);
    if (const DWORD error = Complete(request, sent)) return error;
    return Complete(request, WinHttpReceiveResponse(request.handle.get(), nullptr));
}

// The answer's head as it came: its status line and header lines, each ended by CR LF.
std::string Head(HINTERNET request) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    std::wstring head(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, head.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    head.resize(size / sizeof(wchar_t));
    return Utf8(head);
}

// The start of the body of an answer that isn't the download, after the empty line that ends
// its head: GitHub's secondary rate limit says only there what it is.
std::string Excerpt(const Request& request) {
    constexpr std::size_t kMost = 4096;
    std::string excerpt = "\r\n";
    ReadBody(request, [&](const char* bytes, DWORD count) {
        excerpt.append(bytes, std::min<std::size_t>(count, kMost + 2 - excerpt.size()));
        return excerpt.size() < kMost + 2;
    });
    return excerpt;
}

// Where a download's bytes go: the caller's string and/or file.
struct Sink {
    std::string* body;
    std::size_t kept;  // what the string held before
    const fs::path* path;
    FileHandle file;         // made at the first answer
    std::uint64_t have = 0;  // the bytes of this download in them
};

// Empties the sink for a download that starts over: 0, or the file's error.
DWORD Clear(Sink& sink) {
    if (sink.have == 0) return 0;
    if (sink.body) sink.body->resize(sink.kept);
    sink.have = 0;
    const LARGE_INTEGER start{};
    if (sink.file && (!SetFilePointerEx(sink.file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(sink.file.get())))
        return GetLastError();
    return 0;
}

DWORD Write(Sink& sink, const char* bytes, DWORD count) {
    if (sink.body) sink.body->append(bytes, count);
    DWORD written = 0;
    if (sink.file && !WriteFile(sink.file.get(), bytes, count, &written, nullptr)) return GetLastError();
    if (sink.file && written != count) return ERROR_WRITE_FAULT;
    sink.have += count;
    return 0;
}

// How a try ended, and why when it didn't bring the body.
struct Outcome {
    Ended ended;
    std::wstring cause{};  // for the log
};

// A try that failed with `error`: the user's cancel, or a failure that a later try may mend, or not.
Outcome FailedWith(DWORD error, const std::wstring& cause) {
    if (error == ERROR_CANCELLED) return {Ended::kCancelled};
    return {Transient(error) ? Ended::kAgain : Ended::kStop, cause};
}

// A file that can't be made or written ends the download: no later try would do better.
Outcome Unwritten(DWORD error, const Sink& sink) {
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return {Ended::kStop, L"the disk is full"};
    return {Ended::kStop, L"couldn't write " + sink.path->wstring() + L" (" + ErrorText(error) + L")"};
}

std::wstring BrokeOff(const Sink& sink) { return L"the download broke off at " + Amount(sink.have); }

// How far one download is, across its tries, told once per whole percent.
struct Progress {
    const DownloadContext& context;
    int reported = -2;  // the first chunk always reports

    void Report(std::uint64_t received, std::uint64_t length) {
        const int percent = length ? static_cast<int>(received * 100 / length) : -1;
        if (!context.progress || percent == reported) return;
        context.progress(percent, received, length);
        reported = percent;
    }
};

// One request. A file that holds part of the body already asks for the rest.
Outcome Once(const Target& target, Sink& sink, Progress& progress, std::string* head) {
    Request request;
    request.cancel = progress.context.cancel;
    const std::uint64_t from = sink.file ? sink.have : 0;
    const std::wstring range = from ? L"Range: bytes=" + std::to_wstring(from) + L"-\r\n" : L"";
    if (const DWORD error = Send(request, target, progress.context.headers + range))
        return FailedWith(error, Why(error));
    const std::string answer = Head(request.handle.get());
    if (head) *head = answer;
    if (sink.path && !sink.file) {
        sink.file.Attach(CreateFileW(sink.path->c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!sink.file) return Unwritten(GetLastError(), sink);
    }

    const int status = StatusOf(answer);
    std::uint64_t length = ParseCount(HeaderValue(answer, "Content-Length").value_or("")).value_or(0);  // 0: unknown
    if (from && (status == 206 || status == 416)) {
        const auto total = RangeTotal(HeaderValue(answer, "Content-Range").value_or(""), from);
        if (status == 416 || !total) {
            if (const DWORD error = Clear(sink)) return Unwritten(error, sink);
            return {Ended::kStartOver, L"the server can't send the rest from " + Amount(from)};
        }
        length = *total;
    } else if (status == 200) {
        if (const DWORD error = Clear(sink)) return Unwritten(error, sink);  // the whole body again
    } else {
        if (head) *head += Excerpt(request);
        return {status >= 500 ? Ended::kAgain : Ended::kStop, L"HTTP status " + std::to_wstring(status)};
    }

    DWORD failed = 0;
    const DWORD error = ReadBody(request, [&](const char* bytes, DWORD count) {
        failed = Write(sink, bytes, count);
        if (!failed) progress.Report(sink.have, length);
        return failed == 0;
    });
    if (failed) return Unwritten(failed, sink);
    if (error) return FailedWith(error, BrokeOff(sink) + L" (" + Why(error) + L")");
    if (sink.have < length) return {Ended::kAgain, BrokeOff(sink) + L" of " + Amount(length)};
    return {Ended::kDone};
}

// A whole file whose SHA-256 isn't the one expected is as damaged as a broken one: it starts
// over.
Outcome Verify(Sink& sink, const std::string& sha256) {
    const std::string found = FileSha256(*sink.path);
    if (found == sha256) return {Ended::kDone};
    if (const DWORD error = Clear(sink)) return Unwritten(error, sink);
    return {Ended::kAgain,
            L"the SHA-256 is " + (found.empty() ? L"unreadable" : Widen(found)) + L", not " + Widen(sha256)};
}

}  // namespace

bool Get(const std::wstring& url, std::string* body, const fs::path* file, const std::string& sha256,
         std::string* head, const DownloadContext& context) {
    Target target;
    if (!Crack(url, target)) {
        context.log(L"not a web address");
        return false;
    }
    Sink sink{body, body ? body->size() : 0, file, FileHandle(), 0};
    Progress progress{context};
    for (int tried = 1;;) {
        Outcome outcome = Once(target, sink, progress, head);
        if (outcome.ended == Ended::kDone && file && !sha256.empty()) outcome = Verify(sink, sha256);
        const AfterTry next = StepAfter(outcome.ended, tried);
        if (next.step == AfterTry::kStartOver) {
            context.log(outcome.cause + L"; starting over");
            continue;
        }
        if (next.step == AfterTry::kReturn) {
            // A cancel isn't a failure of the download: the run is over.
            if (outcome.ended != Ended::kDone && outcome.ended != Ended::kCancelled) context.log(outcome.cause);
            return outcome.ended == Ended::kDone;
        }
        context.log(outcome.cause + L"; trying again (" + std::to_wstring(++tried) + L" of " + std::to_wstring(kTries) +
                    L")");
        WaitUnlessCancelled(context.cancel, next.pause);
        if (context.cancel && *context.cancel) return false;
    }
}

}  // namespace setup::win
