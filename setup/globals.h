// What the window and the install worker share, and nothing else. Defined in setup.cpp.
//
// The worker reaches the window only by posting the four messages below (never by sending, so
// it can't block on a window that is waiting to join it). A posted string belongs to the
// window procedure, which deletes it.
#pragma once

#include "win/handle.h"

#include <windows.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace setup {

constexpr UINT kLogLineMessage = WM_APP + 1;  // lParam: new std::wstring, one line
constexpr UINT kStatusMessage = WM_APP + 2;   // lParam: new std::wstring, the status text
constexpr UINT kProgressMessage = WM_APP + 3; // wParam: percent 0..100, or -1 for the marquee
constexpr UINT kFinishedMessage = WM_APP + 4; // wParam: 1 on success; lParam: new std::wstring

extern HWND s_window;             // the main window; written once before any worker exists
extern HFONT s_font;              // every control's font
extern HFONT s_titleFont;         // the title's
extern Handle s_job;              // every child process runs in it; kills them when closed
extern bool s_updateMode;         // started with "--update <folder>"
extern bool s_showLog;            // the details box is shown
extern bool s_busy;               // a run is going (window thread only)
extern std::atomic<bool> s_cancel;  // set by Cancel and closing; read by the worker
extern std::thread s_worker;      // the install worker, joined before the next run and on close
extern std::ofstream s_logFile;   // setup.log while a run is going
extern std::mutex s_logLock;      // guards every use of s_logFile
// The launcher of the last successful build: written by the worker before it posts the finished
// message, read by the window only after it handled that message (the post orders the two).
extern std::wstring s_installed;

}  // namespace setup
