// From process start to a visible window waiting for input: QuorinSetup.exe against a minimal
// Win32 window program of ours, in the same Wine, alternating.
//
//   startup_bench SETUP_EXE MINIMAL_EXE [ROUNDS]
#include "base/text.h"
#include "median.h"
#include "support/program.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Milliseconds until the program's window is visible and its message loop idle; -1 if it never is.
double StartUp(const std::wstring& program) {
    const auto begin = std::chrono::steady_clock::now();
    const testing_support::Program launched(setup::Quote(program), {.endAtClose = true});
    if (!launched.started()) return -1;
    const auto shown = [](HWND window) { return IsWindowVisible(window) && !GetWindow(window, GW_OWNER); };
    WaitForInputIdle(launched.handle(), 30000);
    HWND window = nullptr;
    for (int tries = 0; !(window = testing_support::FindWindowOf(launched.id(), shown)) && tries < 30000; ++tries)
        Sleep(1);
    WaitForInputIdle(launched.handle(), 30000);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    if (window) PostMessageW(window, WM_CLOSE, 0, 0);
    launched.Ended(30000);  // one still running then is ended as it goes
    return window ? ms : -1;
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
