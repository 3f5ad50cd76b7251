// How the install worker speaks: to setup.log, to the window's details box and status line,
// and by ending the run with a sentence for the user.
#pragma once

#include "convert.h"

#include <windows.h>

#include <string>

namespace setup {

// Ends a run. Thrown only through Fail, caught only by the install driver.
struct Failed {
    std::wstring message;
};

// One line to setup.log (when open) and to the details box.
void Log(const std::wstring& line);

// A new phase: "== " + text in the log, the bare text on the status line.
void Status(const std::wstring& text);

[[noreturn]] void Fail(const std::wstring& message);

// Fails with "Cancelled." when the user cancelled.
void CheckCancel();

// Waits until `handle` is signalled (true), or for `milliseconds` at most (INFINITE: no limit),
// looking at s_cancel every 50 ms, so that a cancel ends the wait at once (false; s_cancel tells
// it from the time-out). Without a handle it is a pause that a cancel cuts short.
bool WaitUnlessCancelled(DWORD milliseconds, HANDLE handle = nullptr);

// Posts a message with a string that the window will own and delete. Should the post fail (a
// full queue), the string is freed here instead of leaking.
void PostText(UINT message, WPARAM wParam, const std::wstring& text);

// Moves the progress bar: 0 to 100, or -1 for the marquee.
void PostProgress(int percent);

}  // namespace setup
