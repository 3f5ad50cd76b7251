#include "window/controls.h"

#include "globals.h"
#include "report.h"
#include "window/taskbar.h"

#include <commctrl.h>

#include <algorithm>

namespace setup {
namespace {

// The details box keeps at most about this many characters: past it, the oldest part goes.
constexpr std::size_t kDetailsCap = 400000;
constexpr int kDetailsDrop = 100000;
// It shows at most this much of one line (setup.log has it whole): an edit control wraps a long
// line in time that grows with its square, and a build that printed a megabyte on one line
// would freeze the window for hours under Wine.
constexpr std::size_t kDetailsLine = 2000;

constexpr int kClientWidth = 640;
constexpr int kClientHeight = 454;
constexpr int kClientHeightWithDetails = 692;
constexpr int kFewestDetails = 64;  // the details box's height on a short work area: four lines

// How far the details moved the window up, to take it back down when they hide.
int s_raised = 0;

struct ControlPlan {
    int id;  // 0: a control that nothing refers to
    const wchar_t* type;
    const wchar_t* text;  // nullptr: the install folder
    DWORD style;          // besides WS_CHILD | WS_VISIBLE
    int x, y, width, height;
    enum { kPlain, kIcon, kTitle } look = kPlain;  // what it gets besides the font
};

// In tab order. Positions and sizes are pixels at 96 DPI (100 %), scaled to the system's DPI
// when the controls are made, as the system scales the fonts: so the texts still fit at 150 %.
// The source hint and the free-up-space option have room for a second line: in Windows' Segoe UI
// the extracted-folder hint and the option's text are longer than one.
const ControlPlan kControls[] = {
    {0, L"STATIC", L"", SS_ICON, 16, 12, 48, 48, ControlPlan::kIcon},
    {0, L"STATIC", L"Quorin Recompiled Setup", 0, 76, 14, 540, 26, ControlPlan::kTitle},
    {0, L"STATIC",
     L"Builds the game from your own copy of Quorin. The build tools are downloaded if they aren't "
     L"installed; nothing from the game is downloaded.",
     0, 76, 40, 548, 32},
    {kSourceFrame, L"BUTTON", L"Your copy of Quorin", BS_GROUPBOX, 12, 78, 616, 112},
    {kDiscImage, L"BUTTON", L"Disc image (.iso)", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 28, 98, 150, 20},
    {kExtractedFolder, L"BUTTON", L"Extracted disc folder", BS_AUTORADIOBUTTON, 190, 98, 190, 20},
    {kSourcePath, L"EDIT", L"", WS_BORDER | WS_GROUP | WS_TABSTOP | ES_AUTOHSCROLL, 28, 122, 488, 23},
    {kBrowseSource, L"BUTTON", L"Browse...", WS_TABSTOP, 524, 121, 88, 25},
    {kSourceHint, L"STATIC", L"", 0, 28, 150, 588, 34},
    {0, L"BUTTON", L"Install folder", BS_GROUPBOX, 12, 198, 616, 74},
    {kInstallFolder, L"EDIT", nullptr, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 28, 220, 488, 23},
    {kBrowseFolder, L"BUTTON", L"Browse...", WS_TABSTOP, 524, 219, 88, 25},
    {kFreeSpaceHint, L"STATIC", L"", 0, 28, 248, 588, 18},
    {0, L"BUTTON", L"When it's done", BS_GROUPBOX, 12, 280, 616, 102},
    {kShortcut, L"BUTTON", L"Add a desktop shortcut to the launcher", BS_AUTOCHECKBOX | WS_TABSTOP, 28, 300, 580, 20},
    {kCleanup, L"BUTTON",
     L"Free up space: delete the build tools and leftovers (2-4 GB; the next update gets them again and takes "
     L"longer)",
     BS_AUTOCHECKBOX | BS_MULTILINE | WS_TABSTOP, 28, 320, 590, 36},
    {kDeleteIso, L"BUTTON", L"Delete the disc image once it's extracted (the game doesn't need it)",
     BS_AUTOCHECKBOX | WS_TABSTOP, 28, 356, 580, 20},
    {kStatusLine, L"STATIC", L"Ready.", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, 12, 396, 410, 20},
    {kPlay, L"BUTTON", L"Play", WS_TABSTOP, 434, 391, 90, 28},
    {kInstallButton, L"BUTTON", L"Install", BS_DEFPUSHBUTTON | WS_TABSTOP, 530, 391, 98, 28},
    {kProgressBar, PROGRESS_CLASSW, L"", 0, 12, 426, 504, 16},
    {kDetailsToggle, L"BUTTON", L"Show details", WS_TABSTOP, 524, 422, 104, 24},
    {kDetails, L"EDIT", L"", WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 12, 454, 616, 228},
};

const ControlPlan& Plan(int id) {
    return *std::find_if(std::begin(kControls), std::end(kControls),
                         [id](const ControlPlan& plan) { return plan.id == id; });
}

// The window's outer size (the client with its frame) and its details box's heights, at the
// system's DPI.
WindowSizes Sizes() {
    RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    AdjustWindowRect(&frame, kWindowStyle, FALSE);
    const int height = frame.bottom - frame.top;
    return {frame.right - frame.left, height, height + Scaled(kClientHeightWithDetails) - Scaled(kClientHeight),
            Scaled(Plan(kDetails).height), Scaled(kFewestDetails)};
}

// The system's DPI, fixed for the life of a process that is aware of it, as the manifest says.
int SystemDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

}  // namespace

int Scaled(int pixels) {
    static const int dpi = SystemDpi();
    return MulDiv(pixels, dpi, 96);
}

void CreateControls(const std::wstring& folder) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const ControlPlan& plan : kControls) {
        HWND control = CreateWindowExW(0, plan.type, plan.text ? plan.text : folder.c_str(),
                                       WS_CHILD | WS_VISIBLE | plan.style, Scaled(plan.x), Scaled(plan.y),
                                       Scaled(plan.width), Scaled(plan.height), s_window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(plan.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(s_font), TRUE);
        if (plan.look == ControlPlan::kIcon) {
            HANDLE icon =
                LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, Scaled(48), Scaled(48), LR_DEFAULTCOLOR);
            SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        } else if (plan.look == ControlPlan::kTitle) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(s_titleFont), TRUE);
        }
    }
    SendMessageW(Control(kDiscImage), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(Control(kShortcut), BM_SETCHECK, BST_CHECKED, 0);
    ShowWindow(Control(kPlay), SW_HIDE);
    SendMessageW(Control(kDetails), EM_LIMITTEXT, 0, 0);  // the cap in AppendDetails is the only limit
}

int Ask(const std::wstring& text, UINT type) { return MessageBoxW(s_window, text.c_str(), kCaption, type); }

HWND Control(int id) { return GetDlgItem(s_window, id); }

std::wstring Text(int id) {
    HWND control = Control(id);
    std::wstring text(GetWindowTextLengthW(control) + 1, L'\0');
    text.resize(GetWindowTextW(control, text.data(), static_cast<int>(text.size())));
    return text;
}

void SetText(int id, const std::wstring& text) { SetWindowTextW(Control(id), text.c_str()); }

bool Checked(int id) { return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

Area WorkArea() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(s_window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    return {work.left, work.top, work.right, work.bottom};
}

void Layout() {
    const WindowSizes sizes = Sizes();
    RECT frame{};
    GetWindowRect(s_window, &frame);
    const Point rest{frame.left, frame.top + s_raised};
    const Placement place = Place(WorkArea(), sizes, s_showLog, rest);
    s_raised = rest.y - place.at.y;
    const int height = s_showLog ? sizes.heightWithDetails - (sizes.details - place.details) : sizes.height;
    SetWindowPos(s_window, nullptr, place.at.x, place.at.y, sizes.width, height, SWP_NOZORDER);
    SetWindowPos(Control(kDetails), nullptr, 0, 0, Scaled(Plan(kDetails).width), place.details,
                 SWP_NOZORDER | SWP_NOMOVE);
    ShowWindow(Control(kDetails), s_showLog ? SW_SHOW : SW_HIDE);
    SetText(kDetailsToggle, s_showLog ? L"Hide details" : L"Show details");
}

void SetProgress(int percent) {
    if (s_busy) ShowOnTaskbar(TaskbarFor(percent));
    HWND bar = Control(kProgressBar);
    const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
    const bool marquee = (style & PBS_MARQUEE) != 0;
    if (percent < 0) {
        if (marquee) return;
        SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
        return;
    }
    if (marquee) {
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        InvalidateRect(bar, nullptr, TRUE);  // the position may be the one it had: nothing else repaints
    }
    SendMessageW(bar, PBM_SETPOS, std::min(percent, 100), 0);
}

void AppendDetails(const std::vector<std::wstring>& lines) {
    HWND box = Control(kDetails);
    std::wstring added;  // not in the box yet
    const auto append = [box, &added] {
        const int end = GetWindowTextLengthW(box);
        SendMessageW(box, EM_SETSEL, end, end);
        SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
        added.clear();
    };
    // The cap is checked before each line, as if the lines came one at a time; the text is put
    // in with as few appends as that allows.
    std::size_t length = GetWindowTextLengthW(box);
    for (const std::wstring& line : lines) {
        if (length + added.size() > kDetailsCap) {
            if (!added.empty()) append();
            SendMessageW(box, EM_SETSEL, 0, kDetailsDrop);
            SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
            length = GetWindowTextLengthW(box);
        }
        const std::size_t start = added.size();
        added += line.size() > kDetailsLine ? line.substr(0, kDetailsLine) + L"..." : line;
        std::replace(added.begin() + start, added.end(), L'\0', L' ');  // a NUL would end the append there
        added += L"\r\n";
    }
    if (!added.empty()) append();
}

}  // namespace setup
