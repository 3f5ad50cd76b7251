// The setup window: start-up, the message loop and the window procedure.
#include "globals.h"

#include <windows.h>

namespace setup {

HWND s_window = nullptr;
HFONT s_font = nullptr;
HFONT s_titleFont = nullptr;
HANDLE s_job = nullptr;
bool s_updateMode = false;
bool s_showLog = false;
std::atomic<bool> s_busy{false};
std::atomic<bool> s_cancel{false};
// Constructed in this order and destroyed in reverse; the worker is always joined before.
std::thread s_worker;
std::ofstream s_logFile;
std::mutex s_logLock;
std::wstring s_installed;

}  // namespace setup

namespace {

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"QuorinSetup";
    RegisterClassW(&windowClass);

    HWND window = CreateWindowExW(0, L"QuorinSetup", L"Quorin Recompiled Setup",
                                  WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                                  640, 422, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, show);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
