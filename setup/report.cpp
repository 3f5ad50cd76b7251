#include "report.h"

#include "globals.h"

#include <algorithm>
#include <climits>

namespace setup {

void Log(const std::wstring& line) {
    {
        std::lock_guard<std::mutex> lock(s_logLock);
        if (!s_logFile.fail()) {
            s_logFile << Utf8(line) << '\n';
            s_logFile.flush();
        }
    }
    PostText(kLogLineMessage, 0, line);
}

void Status(const std::wstring& text) {
    Log(L"== " + text);
    PostText(kStatusMessage, 0, text);
}

void Fail(const std::wstring& message) { throw Failed{message}; }

void CheckCancel() {
    if (s_cancel) Fail(L"Cancelled.");
}

bool WaitUnlessCancelled(DWORD milliseconds, HANDLE handle) {
    constexpr ULONGLONG kSlice = 50;
    const ULONGLONG end = milliseconds == INFINITE ? ULLONG_MAX : GetTickCount64() + milliseconds;
    for (ULONGLONG now; !s_cancel && (now = GetTickCount64()) < end;) {
        const DWORD slice = static_cast<DWORD>(std::min(kSlice, end - now));
        if (!handle) {
            Sleep(slice);
        } else if (const DWORD result = WaitForSingleObject(handle, slice); result != WAIT_TIMEOUT) {
            return result == WAIT_OBJECT_0;
        }
    }
    return false;
}

BOOL(WINAPI* s_post)(HWND, UINT, WPARAM, LPARAM) = PostMessageW;

namespace {

std::atomic<int> s_backlog{0};  // messages posted and not handled yet
const Handle s_caughtUp(CreateEventW(nullptr, FALSE, FALSE, nullptr));  // the backlog fell to kMostBehind
thread_local bool t_keepsPace = false;

// Windows refuses a post once a thread's queue holds 10,000 messages: the worker waits for room
// rather than lose a line or the end of the run. Only a window that is gone makes a post fail for
// good. A cancel ends the wait for the window at once: the close handler waits for the worker.
bool Post(UINT message, WPARAM wParam, LPARAM lParam) {
    while (t_keepsPace && s_backlog > kMostBehind && !s_cancel) WaitUnlessCancelled(20, s_caughtUp.get());
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

}  // namespace

void KeepPace() {
    t_keepsPace = true;
    s_backlog = 0;
}

void Handled(int count) {
    const int before = s_backlog.fetch_sub(count);
    if (before > kMostBehind && before - count <= kMostBehind) SetEvent(s_caughtUp.get());
}

void PostText(UINT message, WPARAM wParam, const std::wstring& text) {
    auto* owned = new std::wstring(text);
    if (!Post(message, wParam, reinterpret_cast<LPARAM>(owned))) delete owned;
}

void PostProgress(int percent) { Post(kProgressMessage, static_cast<WPARAM>(static_cast<INT_PTR>(percent)), 0); }

}  // namespace setup
