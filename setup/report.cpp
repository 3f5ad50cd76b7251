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

void PostText(UINT message, WPARAM wParam, const std::wstring& text) {
    auto* owned = new std::wstring(text);
    if (!PostMessageW(s_window, message, wParam, reinterpret_cast<LPARAM>(owned))) delete owned;
}

void PostProgress(int percent) {
    PostMessageW(s_window, kProgressMessage, static_cast<WPARAM>(static_cast<INT_PTR>(percent)), 0);
}

}  // namespace setup
