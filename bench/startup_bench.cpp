// From process start to a visible window waiting for input: QuorinSetup.exe against a minimal
// Win32 window program of ours, in the same Wine, alternating.
//
//   startup_bench SETUP_EXE MINIMAL_EXE [ROUNDS]
#include "median.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Search {
    DWORD process;
    HWND window = nullptr;
};

BOOL CALLBACK VisibleWindowOf(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process || !IsWindowVisible(window) || GetWindow(window, GW_OWNER)) return TRUE;
    search->window = window;
    return FALSE;
}

// Milliseconds until the program's window is visible and its message loop idle; -1 if it never is.
double StartUp(const std::wstring& program) {
    std::wstring command = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const auto begin = std::chrono::steady_clock::now();
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return -1;
    Search search{started.dwProcessId};
    WaitForInputIdle(started.hProcess, 30000);
    for (int tries = 0; !search.window && tries < 30000; ++tries) {
        EnumWindows(VisibleWindowOf, reinterpret_cast<LPARAM>(&search));
        if (!search.window) Sleep(1);
    }
    WaitForInputIdle(started.hProcess, 30000);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    if (search.window) PostMessageW(search.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(started.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(started.hProcess, 1);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return search.window ? ms : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench SETUP_EXE MINIMAL_EXE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 3 ? _wtoi(argv[3]) : 11;
    std::vector<double> setup, minimal;
    StartUp(argv[1]);  // a first start warms the caches of both
    for (int round = 0; round < rounds; ++round) {
        setup.push_back(StartUp(argv[1]));
        minimal.push_back(StartUp(argv[2]));
        if (setup.back() < 0 || minimal.back() < 0) {
            std::fprintf(stderr, "startup_bench: a window never showed\n");
            return 1;
        }
    }
    std::printf("startup_bench: to a visible, idle window: QuorinSetup.exe %.0f ms, minimal window %.0f ms, "
                "ratio %.2f (median of %d)\n",
                Median(setup), Median(minimal), Median(setup) / Median(minimal), rounds);
    return 0;
}
