// The program's entry point and the globals that its two threads share (globals.h).
#include "globals.h"
#include "window/window.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

namespace setup {

HWND s_window = nullptr;
HFONT s_font = nullptr;
HFONT s_titleFont = nullptr;
win::Handle s_job;
bool s_updateMode = false;
bool s_showLog = false;
bool s_busy = false;
std::atomic<bool> s_cancel{false};
std::wstring s_installed;

namespace {

std::vector<std::wstring> Arguments() {
    if (!std::wcsstr(GetCommandLineW(), L"--update")) return {};  // nothing to read: shell32 needn't load
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(list, list + (list ? count : 0));
    LocalFree(list);
    return args;
}

}  // namespace
}  // namespace setup

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    // Before anything else: DLLs load from the system folder only, never from beside the exe
    // (a Downloads folder full of other files) or the current folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!setup::StartUp(setup::Arguments(), show)) return 1;
    setup::MessageLoop();
    setup::ShutDown();
    return 0;
}
