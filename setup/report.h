// How the install worker speaks to the player: setup.log, the window's details box, status line
// and bar, the end of a run, and the questions it asks on the way. This file alone knows the
// messages that carry it all to the window and how a text travels in them: the worker posts them
// (never sends, so it can't block on a window that is waiting to join it), and the window takes
// them through Decode.
//
// The functions marked "worker" are for the install worker's thread (or a test's, standing in
// for it); those marked "window" for the window's.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace setup {

// Every message box of the program has this caption.
constexpr const wchar_t* kCaption = L"Quorin Recompiled Setup";

// Ends a run. Thrown only through Fail, caught only by the install driver.
struct Failed {
    std::wstring message;  // for the player
    std::wstring why{};    // the system's reason, for setup.log alone
};

// The failure as setup.log keeps it: the message, with the system's reason in parentheses.
std::wstring Logged(const Failed& failed);

// Worker: from here on, Log adds its lines to `file` as well, at its end; false when it can't be
// opened (then only the details box gets them).
bool OpenLog(const std::filesystem::path& file);

// Worker: the end of the run's lines in the file.
void CloseLog();

// Worker: one line to setup.log (when open) and to the details box.
void Log(const std::wstring& line);

// Worker: Log for a caller that has the line's UTF-8 already, which setup.log then takes as it is.
void Log(const std::wstring& line, const std::string& utf8);

// Worker: a new phase: "== " + text in the log, the bare text on the status line.
void Status(const std::wstring& text);

// Worker: a status text that stays out of the log (a download's progress, the build's phases).
// One that the window shows already, the last this run posted, isn't posted again.
void PostStatus(const std::wstring& text);

// Worker: moves the progress bar: 0 to 100, or -1 for the marquee. A position that the window
// shows already, the last this run posted, isn't posted again.
void PostProgress(int percent);

// Worker: the run is over, with its final message.
void PostFinished(bool success, const std::wstring& message);

// Worker: asks the player in a message box owned by the window, as MessageBoxW does with `type`,
// and gives the button pressed. The box runs its own loop on this thread; the window stays
// usable meanwhile, and a close of the window waits for it. Fails with "Cancelled." when the
// player cancelled while it was open.
int AskFromWorker(const std::wstring& text, UINT type);

// Worker: ends the run with a sentence for the player, and the system's reason for the log.
[[noreturn]] void Fail(const std::wstring& message, const std::wstring& why = {});

// Worker: fails with "Cancelled." when the user cancelled.
void CheckCancel();

// Worker: a run starts. From now on this thread's posts keep pace with the window, which has
// handled all before and shows no status text or bar position of this run yet. For the install
// worker: a thread that waited for its own window to catch up would wait for ever.
void KeepPace();

// How far the window may fall behind the worker. Past it, the worker's posts wait for the window
// (and the child's pipe holds the child back meanwhile): a flood of build output would otherwise
// queue up seconds of work ahead of the user's next click.
constexpr int kMostBehind = 200;

// What the worker told the window, as one message brought it.
struct Report {
    enum Kind { kNone, kLines, kStatus, kProgress, kFinished } kind = kNone;
    std::vector<std::wstring> lines;  // kLines: the line, and those waiting behind it
    std::wstring text;                // kStatus, kFinished: the status text, the final message
    int percent = 0;                  // kProgress: 0 to 100, or -1 for the marquee
    bool success = false;             // kFinished
};

// Window: the report a message carries, kNone for a message that isn't the worker's. Its string
// belongs to the window from here on, and it counts as handled. A log line comes with those
// waiting behind it, a few hundred at most: the details box costs about the same per append
// whatever its length, more than the worker takes to post a line, so taking lines one append
// each would let a fast build outrun the window.
Report Decode(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Window: takes the next report waiting for `window`, if any; false when none waits.
bool NextReport(HWND window, Report& report);

// How the posts above post: PostMessageW, or a stand-in that a test puts in its place.
extern BOOL(WINAPI* s_post)(HWND, UINT, WPARAM, LPARAM);

}  // namespace setup
