// Waiting that a cancel cuts short: the worker's waits for a child, a download, a locked file or
// the window all end within moments of the user's Cancel. Either thread.
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>

namespace setup::win {

// Waits until `handle` is signalled (true), or for `milliseconds` at most (INFINITE: no limit),
// looking at `cancel` (when given) every 50 ms, so that a cancel ends the wait at once (false; the
// flag tells it from the time-out). Without a handle it is a pause that a cancel cuts short.
inline bool WaitUnlessCancelled(const std::atomic<bool>* cancel, DWORD milliseconds, HANDLE handle = nullptr) {
    constexpr ULONGLONG kSlice = 50;
    const ULONGLONG end = milliseconds == INFINITE ? ULLONG_MAX : GetTickCount64() + milliseconds;
    for (ULONGLONG now; !(cancel && *cancel) && (now = GetTickCount64()) < end;) {
        const DWORD slice = static_cast<DWORD>(std::min(kSlice, end - now));
        if (!handle) {
            Sleep(slice);
        } else if (const DWORD result = WaitForSingleObject(handle, slice); result != WAIT_TIMEOUT) {
            return result == WAIT_OBJECT_0;
        }
    }
    return false;
}

}  // namespace setup::win
