// What the window and the install worker share, and nothing else: defined in main.cpp. The worker
// reaches the window only through report.h. Each says which thread writes it.
#pragma once

#include "win/handle.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace setup {

extern HWND s_window;               // the main window; written once at start-up, before any worker
extern HFONT s_font;                // every control's font (window thread)
extern HFONT s_titleFont;           // the title's (window thread)
extern win::Handle s_job;           // every child process runs in it; kills them when closed
extern bool s_updateMode;           // started with "--update <folder>" (written at start-up)
extern bool s_showLog;              // the details box is shown (window thread)
extern bool s_busy;                 // a run is going (window thread)
extern std::atomic<bool> s_cancel;  // set by Cancel and closing (window thread); read by the worker
// The launcher of the last successful build: written by the worker before it posts the finished
// message, read by the window only after it handled that message (the post orders the two).
extern std::wstring s_installed;

}  // namespace setup
