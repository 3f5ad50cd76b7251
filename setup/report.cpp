#include "report.h"

#include "globals.h"
#include "win/convert.h"
#include "win/wait.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>

namespace setup {
namespace {

// The worker's messages to the window.
constexpr UINT kLogLineMessage = WM_APP + 1;   // lParam: new std::wstring, one line
constexpr UINT kStatusMessage = WM_APP + 2;    // lParam: new std::wstring, the status text
constexpr UINT kProgressMessage = WM_APP + 3;  // wParam: percent 0..100, or -1 for the marquee
constexpr UINT kFinishedMessage = WM_APP + 4;  // wParam: 1 on success; lParam: new std::wstring

std::ofstream s_logFile;  // setup.log while a run is going
std::mutex s_logLock;     // guards every use of s_logFile

// What the window was last told of the status line and the bar, which it still shows: the same
// again needs no post. Another window has been told nothing, and so has this one at a run's start.
struct Told {
    HWND window = nullptr;
    std::optional<std::wstring> status;
    std::optional<int> percent;
};
Told s_told;
std::mutex s_toldLock;  // guards s_told

std::atomic<int> s_backlog{0};  // messages posted and not handled yet
const win::Handle s_caughtUp(CreateEventW(nullptr, FALSE, FALSE, nullptr));  // the backlog fell to kMostBehind
thread_local bool t_keepsPace = false;

// Windows refuses a post once a thread's queue holds 10,000 messages: the worker waits for room
// rather than lose a line or the end of the run. Only a window that is gone makes a post fail for
// good. A cancel ends the wait for the window at once: the close handler waits for the worker.
bool Post(UINT message, WPARAM wParam, LPARAM lParam) {
    while (t_keepsPace && s_backlog > kMostBehind && !s_cancel)
        win::WaitUnlessCancelled(&s_cancel, 20, s_caughtUp.get());
    ++s_backlog;
    for (DWORD pause = 1; !s_post(s_window, message, wParam, lParam); pause = std::min<DWORD>(pause * 2, 50)) {
        if (!IsWindow(s_window)) {
            --s_backlog;
            return false;
        }
        Sleep(pause);
    }
    return true;
}

// A string that the window will own and delete; should the window be gone, it is freed here.
void PostText(UINT message, WPARAM wParam, const std::wstring& text) {
    auto* owned = new std::wstring(text);
    if (!Post(message, wParam, reinterpret_cast<LPARAM>(owned))) delete owned;
}

// Whether `value` changes what the window shows as its `shown` (s_told's status or percent): then
// it is noted as shown.
template <typename Value>
bool Changes(std::optional<Value> Told::*shown, const Value& value) {
    std::lock_guard<std::mutex> lock(s_toldLock);
    if (s_told.window != s_window) s_told = {s_window, {}, {}};
    if (s_told.*shown == value) return false;
    s_told.*shown = value;
    return true;
}

// The window has handled `count` of the messages posted to it.
void Handled(int count) {
    const int before = s_backlog.fetch_sub(count);
    if (before > kMostBehind && before - count <= kMostBehind) SetEvent(s_caughtUp.get());
}

// A posted string; the window owns it from here.
std::wstring Take(LPARAM lParam) {
    return std::move(*std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(lParam)));
}

}  // namespace

BOOL(WINAPI* s_post)(HWND, UINT, WPARAM, LPARAM) = PostMessageW;

bool OpenLog(const std::filesystem::path& file) {
    std::lock_guard<std::mutex> lock(s_logLock);
    s_logFile.open(file, std::ios::out | std::ios::app);  // clears the state on success
    return s_logFile.is_open();
}

void CloseLog() {
    std::lock_guard<std::mutex> lock(s_logLock);
    s_logFile.close();
}

void Log(const std::wstring& line) { Log(line, win::Utf8(line)); }

void Log(const std::wstring& line, const std::string& utf8) {
    {
        std::lock_guard<std::mutex> lock(s_logLock);
        if (!s_logFile.fail()) {
            s_logFile << utf8 << '\n';
            s_logFile.flush();
        }
    }
    PostText(kLogLineMessage, 0, line);
}

void Status(const std::wstring& text) {
    Log(L"== " + text);
    PostStatus(text);
}

void PostStatus(const std::wstring& text) {
    if (Changes(&Told::status, text)) PostText(kStatusMessage, 0, text);
}

void PostProgress(int percent) {
    if (Changes(&Told::percent, percent)) Post(kProgressMessage, static_cast<WPARAM>(static_cast<INT_PTR>(percent)), 0);
}

void PostFinished(bool success, const std::wstring& message) { PostText(kFinishedMessage, success ? 1 : 0, message); }

int AskFromWorker(const std::wstring& text, UINT type) {
    const int answer = MessageBoxW(s_window, text.c_str(), kCaption, type);
    CheckCancel();  // whatever the answer: the player asked to stop
    return answer;
}

void Fail(const std::wstring& message, const std::wstring& why) { throw Failed{message, why}; }

std::wstring Logged(const Failed& failed) {
    if (failed.why.empty()) return failed.message;
    // "Couldn't create a pipe (error 5: ...)": the reason before the sentence's full stop.
    const bool stop = !failed.message.empty() && failed.message.back() == L'.';
    return failed.message.substr(0, failed.message.size() - stop) + L" (" + failed.why + L")" + (stop ? L"." : L"");
}

void CheckCancel() {
    if (s_cancel) Fail(L"Cancelled.");
}

void KeepPace() {
    t_keepsPace = true;
    s_backlog = 0;
    std::lock_guard<std::mutex> lock(s_toldLock);
    s_told = {};
}

Report Decode(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Report report;
    switch (message) {
    case kLogLineMessage: {
        constexpr std::size_t kMost = 500;
        report.kind = Report::kLines;
        report.lines.push_back(Take(lParam));
        // Past a status text or a bar position between them too: the details box is a control of its
        // own, and one append for them all keeps a flood of build output from outrunning the window.
        MSG next;
        while (report.lines.size() < kMost && PeekMessageW(&next, window, kLogLineMessage, kLogLineMessage, PM_REMOVE))
            report.lines.push_back(Take(next.lParam));
        Handled(static_cast<int>(report.lines.size()));
        return report;
    }
    case kStatusMessage:
        report.kind = Report::kStatus;
        report.text = Take(lParam);
        break;
    case kProgressMessage:
        report.kind = Report::kProgress;
        report.percent = static_cast<int>(static_cast<DWORD>(wParam));
        break;
    case kFinishedMessage:
        report.kind = Report::kFinished;
        report.success = wParam != 0;
        report.text = Take(lParam);
        break;
    default:
        return report;
    }
    Handled(1);
    return report;
}

bool NextReport(HWND window, Report& report) {
    MSG message;
    if (!PeekMessageW(&message, window, kLogLineMessage, kFinishedMessage, PM_REMOVE)) return false;
    report = Decode(window, message.message, message.wParam, message.lParam);
    return true;
}

}  // namespace setup
