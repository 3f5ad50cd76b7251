// Saves pictures of the setup window, made exactly as start-up makes it: at rest, busy with the
// details shown, and after a failed run with its warning. tests/screenshots.sh runs it under
// Wine and turns the pictures into PNG files.
//
//   window_screenshots FOLDER    writes rest.bmp, busy.bmp and failure.bmp into FOLDER
#include "globals.h"
#include "report.h"
#include "support/message_boxes.h"
#include "support/picture.h"
#include "window/choices.h"
#include "window/controls.h"
#include "window/runs.h"
#include "window/window.h"

#include <windows.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace setup;

namespace {

// The client area on the screen (Wine draws no frame without a window manager).
RECT ClientArea() {
    RECT area{};
    GetClientRect(s_window, &area);
    MapWindowPoints(s_window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

// Lets every control paint before a picture is taken.
void Settle() {
    testing_support::PumpWaiting();
    RedrawWindow(s_window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    Sleep(300);  // the X server draws on its own time
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    StartUp({L"QuorinSetup.exe"}, SW_SHOW);
    Settle();
    testing_support::SavePicture(folder / "rest.bmp", ClientArea());

    // Busy, as the worker's messages leave it part way through a run.
    SetText(kSourcePath, L"D:\\Games\\Quorin (2007).iso");
    s_showLog = true;
    Layout();
    SetBusy(true);
    for (const wchar_t* line : {L"Quorin Recompiled Setup, installing to C:\\Quorin-Recomp", L"== Checking the tools",
                                L"Git: found on the PATH", L"CMake: downloading"})
        Log(line);
    PostStatus(L"Downloading CMake: 21 MB of 48 MB");
    PostProgress(44);
    Settle();
    testing_support::SavePicture(folder / "busy.bmp", ClientArea());
    SetBusy(false);
    s_showLog = false;
    Layout();
    SendMessageW(Control(kDetails), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));

    // A real run that fails: no game copy, into a fresh folder.
    const fs::path dir = fs::temp_directory_path() / "Quorin-Recomp-screenshot";
    SetText(kInstallFolder, dir.wstring());
    SetText(kSourcePath, L"");
    testing_support::BoxAnswerer answerer({IDOK}, [&](HWND box) {
        Sleep(500);  // the box paints in its own loop on the window's thread
        RECT area = ClientArea(), boxArea{};
        GetWindowRect(box, &boxArea);
        UnionRect(&area, &area, &boxArea);
        testing_support::SavePicture(folder / "failure.bmp", area);
    });
    PostMessageW(s_window, WM_COMMAND, kInstallButton, 0);
    testing_support::PumpUntil([] { return s_busy; });
    testing_support::PumpUntil([] { return !s_busy; });
    answerer.Seen();
    fs::remove_all(dir);

    SendMessageW(s_window, WM_CLOSE, 0, 0);
    ShutDown();
    return 0;
}
