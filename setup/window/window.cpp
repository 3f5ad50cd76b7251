// The setup window: start-up, the message loop and the window procedure.
#include "window/window.h"

#include "base/args.h"
#include "globals.h"
#include "maintenance/layout.h"
#include "report.h"
#include "win/com.h"
#include "win/power.h"
#include "win/processes.h"
#include "window/choices.h"
#include "window/controls.h"
#include "window/runs.h"
#include "window/taskbar.h"

#include <windows.h>
#include <commctrl.h>


namespace setup {

namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kClassName = L"QuorinSetup";

bool s_closing = false;  // the close handler is waiting for the worker

// The system's message font for every control.
void CreateFonts() {
    NONCLIENTMETRICSW metrics{};
    static_assert(sizeof metrics == 504, "the full record, padded border included");
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    s_font = CreateFontIndirectW(&metrics.lfMessageFont);
}

// The same font, half as large again and bold.
HFONT TitleFont() {
    LOGFONTW font{};
    GetObjectW(s_font, sizeof font, &font);
    font.lfHeight = font.lfHeight * 3 / 2;
    font.lfWeight = FW_BOLD;
    return CreateFontIndirectW(&font);
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
}

// The folder this program sits in when it belongs to an install, else <system drive>\Quorin-Recomp.
std::wstring ProposedFolder() {
    wchar_t program[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const fs::path folder = fs::path(program).parent_path();
    if (layout::Exists(layout::RepoMarker(layout::RepoFolder(folder)))) return folder.wstring();
    wchar_t drive[8] = L"";
    const DWORD length = GetEnvironmentVariableW(L"SystemDrive", drive, 8);
    return std::wstring(length > 0 && length < 8 ? drive : L"C:") + L"\\" + kFolderName;
}

// Centred across the work area, a third of the way down: clear of the taskbar.
void PlaceOnScreen() {
    RECT frame{};
    GetWindowRect(s_window, &frame);
    const Point home = Home(WorkArea(), frame.right - frame.left, frame.bottom - frame.top);
    SetWindowPos(s_window, nullptr, home.x, home.y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

// The game is already extracted here: an update needs no game copy. Looked at once, at start.
void ShowExistingInstall() {
    if (!layout::Exists(layout::ExtractedMarker(layout::RepoFolder(Text(kInstallFolder))))) return;
    SetText(kInstallButton, L"Update");
    SetText(kStatusLine, L"Already installed here: Update gets the latest version and rebuilds.");
    for (int id : {kDiscImage, kExtractedFolder, kSourcePath, kBrowseSource, kDeleteIso}) EnableWindow(Control(id), FALSE);
    SetText(kSourceHint, L"Not needed: the game's files are already in this install.");
}

// Closing stops a run first (after asking), and waits for the worker. A close that comes while
// an earlier one asks or waits (sent by another program, say) is the same close.
void OnClose(HWND window) {
    if (s_closing) return;
    s_closing = true;
    if (!s_busy || Ask(L"Setup is still running. Stop it?", MB_YESNO | MB_ICONQUESTION) == IDYES) {
        Cancel();
        JoinWorker();
        DestroyWindow(window);
    }
    s_closing = false;
}

// True when the command was one of ours.
bool OnCommand(int id, int notification) {
    switch (id) {
    case kBrowseSource:
        BrowseSource();
        return true;
    case kInstallFolder:
        if (notification == EN_KILLFOCUS) UpdateFreeSpace();
        return true;
    case kBrowseFolder:
        BrowseDir();
        UpdateFreeSpace();
        return true;
    case kInstallButton:
        StartOrCancel();
        return true;
    case kPlay:
        Play();
        return true;
    case kDiscImage:
    case kExtractedFolder:
        SetText(kSourcePath, L"");
        UpdateSourceChoice();
        return true;
    case kDetailsToggle:
        s_showLog = !s_showLog;
        Layout();
        return true;
    default:
        return false;
    }
}

// The two hints are grey on the window's own background.
LRESULT OnHintColor(HDC dc) {
    SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

bool IsHint(LPARAM control) {
    const HWND hint = reinterpret_cast<HWND>(control);
    return hint == Control(kSourceHint) || hint == Control(kFreeSpaceHint);
}

// What the worker reports, shown.
void OnReport(const Report& report) {
    switch (report.kind) {
    case Report::kLines:
        AppendDetails(report.lines);
        break;
    case Report::kStatus:
        SetText(kStatusLine, report.text);
        break;
    case Report::kProgress:
        SetProgress(report.percent);
        break;
    case Report::kFinished:
        EndRun(report.success, report.text);
        break;
    case Report::kNone:
        break;
    }
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (s_taskbarButtonCreated != 0 && message == s_taskbarButtonCreated) {
        OnTaskbarButtonCreated();
        return 0;
    }
    switch (message) {
    case WM_DESTROY:
        ReleaseTaskbar();
        win::KeepAwake(false);  // a run closed with the window lets the PC sleep again
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam), HIWORD(wParam))) return 0;
        break;
    case WM_CTLCOLORSTATIC:
        if (IsHint(lParam)) return OnHintColor(reinterpret_cast<HDC>(wParam));
        break;
    }
    if (const Report report = Decode(window, message, wParam, lParam); report.kind != Report::kNone) {
        OnReport(report);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool StartUp(const std::vector<std::wstring>& args, int show) {
    s_job = win::NewJob();  // children join it as they start; closing it kills whatever is left
    if (!s_job) {
        MessageBoxW(nullptr,
                    L"Setup can't start: Windows didn't let it make the job object that stops the build tools "
                    L"with it. Restart the computer and try again.",
                    kCaption, MB_ICONERROR);
        return false;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    CreateFonts();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass(instance);
    s_taskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    const std::wstring updateFolder = UpdateFolder(args);
    s_updateMode = !updateFolder.empty();

    s_window = CreateWindowExW(0, kClassName, kCaption, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr,
                               nullptr, instance, nullptr);
    s_titleFont = TitleFont();
    CreateControls(s_updateMode ? updateFolder : ProposedFolder());
    UpdateSourceChoice();
    UpdateFreeSpace();
    Layout();
    PlaceOnScreen();
    ShowExistingInstall();
    ShowWindow(s_window, show);
    if (s_updateMode) PostMessageW(s_window, WM_COMMAND, kInstallButton, 0);
    return true;
}

void MessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(s_window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void ShutDown() {
    s_job.Close();
    win::EndCom();
    DeleteObject(s_titleFont);  // the controls that used them are gone with the window
    DeleteObject(s_font);
    s_titleFont = s_font = nullptr;
}

}  // namespace setup
