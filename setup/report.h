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

// Posts a message with a string that the window will own and delete. A full queue is waited out;
// should the window be gone, the string is freed here instead of leaking.
void PostText(UINT message, WPARAM wParam, const std::wstring& text);

// Moves the progress bar: 0 to 100, or -1 for the marquee.
void PostProgress(int percent);

// How PostText and PostProgress post: PostMessageW, or a stand-in that a test puts in its place.
extern BOOL(WINAPI* s_post)(HWND, UINT, WPARAM, LPARAM);

// How far the window may fall behind the worker. Past it, the worker's posts wait for the window
// (and the child's pipe holds the child back meanwhile): a flood of build output would otherwise
// queue up seconds of work ahead of the user's next click.
constexpr int kMostBehind = 200;

// From now on, this thread's posts keep pace with the window, which has handled all before. For
// the install worker: a thread that waited for its own window to catch up would wait for ever.
void KeepPace();

// The window has handled `count` of the messages posted to it.
void Handled(int count);

}  // namespace setup
