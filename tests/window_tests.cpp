// The setup window as start-up makes it: its controls, look and place, and what it finds at
// start. The real window, driven with real messages under Wine.
#include "support/host_path.h"
#include "support/messages.h"
#include "support/scratch.h"
#include "support/window_driver.h"
#include "win/convert.h"

#include <commctrl.h>

#include <cstdlib>

namespace fs = std::filesystem;
using namespace setup;
using setup::win::Utf8;
using testing_support::Box;
using testing_support::ClientSize;
using testing_support::kNoGitHub;
using testing_support::PumpUntil;
using testing_support::Scratch;
using testing_support::Visible;

namespace {

bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }

struct ExpectedControl {
    int id;
    const wchar_t* type;
    const wchar_t* text;  // nullptr: not compared
    DWORD style;
    RECT rect;  // x, y, width, height
};

// Every window that start-up creates, as it asked for it: some controls change their own style
// afterwards (an edit takes WS_BORDER over as its frame).
struct Created {
    std::wstring type;
    CREATESTRUCTW asked;  // its strings aren't kept
};
std::vector<Created> s_created;

// The main window and its controls; the system makes windows of its own on the way.
LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    const CREATESTRUCTW* made = code == HCBT_CREATEWND ? reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs : nullptr;
    std::wstring type = made && HIWORD(made->lpszClass) ? made->lpszClass : L"";
    type.erase(0, type.find(L'!') + 1);  // the manifest's controls come as "<version>!<class>"
    if (made && (s_created.empty() ? type == L"QuorinSetup" : (made->style & WS_CHILD) && made->hwndParent == s_window))
        s_created.push_back({type, *made});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class Window : public testing_support::SetupWindow {
protected:
    void OpenRecording() {
        s_created.clear();
        HHOOK hook = SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
        Open();
        UnhookWindowsHookEx(hook);
    }
};

TEST_F(Window, ControlsAreCreatedInTabOrderWithTheirClassStyleRectangleAndText) {
    OpenRecording();
    const DWORD hidden = WS_VISIBLE;  // Play and the details box start hidden
    const ExpectedControl expected[] = {
        {0, L"Static", L"", 0x50000003, {16, 12, 48, 48}},
        {0, L"Static", L"Quorin Recompiled Setup", 0x50000000, {76, 14, 540, 26}},
        {0, L"Static",
         L"Builds the game from your own copy of Quorin. The build tools are downloaded if they aren't installed; "
         L"nothing from the game is downloaded.",
         0x50000000, {76, 40, 548, 32}},
        {115, L"Button", L"Your copy of Quorin", 0x50000007, {12, 78, 616, 112}},
        {110, L"Button", L"Disc image (.iso)", 0x50030009, {28, 98, 150, 20}},
        {111, L"Button", L"Extracted disc folder", 0x50000009, {190, 98, 190, 20}},
        {100, L"Edit", L"", 0x50830080, {28, 122, 488, 23}},
        {101, L"Button", L"Browse...", 0x50010000, {524, 121, 88, 25}},
        {116, L"Static", L"A dump of your own Xbox 360 disc of Quorin (2007).", 0x50000000, {28, 150, 588, 34}},
        {0, L"Button", L"Install folder", 0x50000007, {12, 198, 616, 74}},
        {102, L"Edit", L"C:\\Quorin-Recomp", 0x50810080, {28, 220, 488, 23}},
        {103, L"Button", L"Browse...", 0x50010000, {524, 219, 88, 25}},
        {117, L"Static", nullptr, 0x50000000, {28, 248, 588, 18}},
        {0, L"Button", L"When it's done", 0x50000007, {12, 280, 616, 102}},
        {108, L"Button", L"Add a desktop shortcut to the launcher", 0x50010003, {28, 300, 580, 20}},
        {112, L"Button",
         L"Free up space: delete the build tools and leftovers (2-4 GB; the next update gets them again and takes "
         L"longer)",
         0x50012003, {28, 320, 590, 36}},
        {113, L"Button", L"Delete the disc image once it's extracted (the game doesn't need it)", 0x50010003,
         {28, 356, 580, 20}},
        {105, L"Static", L"Ready.", 0x5000400C, {12, 396, 410, 20}},
        {109, L"Button", L"Play", 0x50010000 & ~hidden, {434, 391, 90, 28}},
        {104, L"Button", L"Install", 0x50010001, {530, 391, 98, 28}},
        {106, L"msctls_progress32", L"", 0x50000000, {12, 426, 504, 16}},
        {114, L"Button", L"Show details", 0x50010000, {524, 422, 104, 24}},
        {107, L"Edit", L"", 0x50A00844 & ~hidden, {12, 454, 616, 228}},
    };
    ASSERT_EQ(s_created.size(), std::size(expected) + 1);
    const CREATESTRUCTW& main = s_created[0].asked;
    EXPECT_EQ(static_cast<DWORD>(main.style), 0xCA0000u);
    EXPECT_EQ(main.dwExStyle & ~WS_EX_WINDOWEDGE, 0u) << "the system adds the edge of a caption";
    EXPECT_EQ(main.cx, 100);
    EXPECT_EQ(main.cy, 100);
    EXPECT_EQ(main.hwndParent, nullptr);

    HWND control = GetWindow(s_window, GW_CHILD);
    for (const ExpectedControl& want : expected) {
        const Created& made = s_created[&want - expected + 1];
        SCOPED_TRACE(testing::Message() << "control " << want.id << " " << Utf8(want.text ? want.text : L""));
        ASSERT_NE(control, nullptr) << "missing";
        wchar_t type[64] = L"";
        GetClassNameW(control, type, 64);
        EXPECT_EQ(lstrcmpiW(type, want.type), 0) << Utf8(type);
        EXPECT_EQ(GetDlgCtrlID(control), want.id);
        EXPECT_EQ(lstrcmpiW(made.type.c_str(), want.type), 0) << Utf8(made.type);
        EXPECT_EQ(static_cast<DWORD>(made.asked.style), want.style | WS_VISIBLE);
        EXPECT_EQ(made.asked.dwExStyle, 0u);
        EXPECT_EQ(made.asked.hInstance, GetModuleHandleW(nullptr));
        const DWORD live = GetWindowLongW(control, GWL_STYLE);
        EXPECT_EQ(live & ~WS_BORDER, want.style & ~WS_BORDER);
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, s_window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, want.rect.left);
        EXPECT_EQ(rect.top, want.rect.top);
        EXPECT_EQ(rect.right - rect.left, want.rect.right);
        EXPECT_EQ(rect.bottom - rect.top, want.rect.bottom);
        wchar_t text[256] = L"";
        GetWindowTextW(control, text, 256);
        if (want.text) {
            EXPECT_EQ(std::wstring(text), want.text);
        }
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "more controls than the table has";

    EXPECT_TRUE(Checked(kDiscImage));
    EXPECT_FALSE(Checked(kExtractedFolder));
    EXPECT_TRUE(Checked(kShortcut));
    EXPECT_FALSE(Checked(kCleanup));
    EXPECT_FALSE(Checked(kDeleteIso));
    EXPECT_EQ(SendMessageW(Control(kDetails), EM_GETLIMITTEXT, 0, 0), 0xFFFFFFFF) << "the edit's limit is lifted";
    EXPECT_EQ(SendMessageW(Control(kProgressBar), PBM_GETRANGE, FALSE, 0), 100);
}

TEST_F(Window, HasItsClassTitleFontsAndIcons) {
    Open();
    wchar_t text[64] = L"";
    GetClassNameW(s_window, text, 64);
    EXPECT_EQ(std::wstring(text), L"QuorinSetup");
    GetWindowTextW(s_window, text, 64);
    EXPECT_EQ(std::wstring(text), L"Quorin Recompiled Setup");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(s_window, GWL_STYLE)) & ~(WS_CLIPSIBLINGS | WS_VISIBLE), 0xCA0000u);
    EXPECT_NE(GetClassLongPtrW(s_window, GCLP_HICON), 0) << "the class carries icon 1";

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font{}, title{};
    GetObjectW(s_font, sizeof font, &font);
    GetObjectW(s_titleFont, sizeof title, &title);
    EXPECT_EQ(std::wstring(font.lfFaceName), metrics.lfMessageFont.lfFaceName);
    EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
    EXPECT_EQ(title.lfHeight, metrics.lfMessageFont.lfHeight * 3 / 2);
    EXPECT_EQ(title.lfWeight, FW_BOLD);
    EXPECT_EQ(std::wstring(title.lfFaceName), font.lfFaceName);

    HWND icon = GetWindow(s_window, GW_CHILD);
    HWND titleLabel = GetWindow(icon, GW_HWNDNEXT);
    for (HWND control = titleLabel; control; control = GetWindow(control, GW_HWNDNEXT)) {  // an icon keeps no font
        const auto want = control == titleLabel ? s_titleFont : s_font;
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), want) << GetDlgCtrlID(control);
    }

    auto picture = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    ASSERT_NE(picture, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(picture, &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, 48);
    EXPECT_EQ(bitmap.bmHeight, 48);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

// Each control's text, in its own font, with a tenth of its width to spare: Windows' Segoe UI is
// wider than Wine's font. A label's lines, and a multi-line button's, wrapped at that width, fit
// the height; any other button's one line fits the width. A check box's or radio's text starts
// after its box.
void ExpectTextsFit() {
    for (HWND control = GetWindow(s_window, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        wchar_t text[256] = L"", type[32] = L"";
        GetWindowTextW(control, text, 256);
        GetClassNameW(control, type, 32);
        SCOPED_TRACE(Utf8(text));
        RECT room{};
        GetClientRect(control, &room);
        const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
        const bool button = lstrcmpiW(type, L"Button") == 0;
        const LONG_PTR kind = style & BS_TYPEMASK;
        if (button && (kind == BS_AUTOCHECKBOX || kind == BS_AUTORADIOBUTTON))
            room.right -= GetSystemMetrics(SM_CXMENUCHECK);
        const LONG width = room.right * 10 / 11;  // the text a tenth wider
        HDC dc = GetDC(control);
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        if (lstrcmpiW(type, L"Static") == 0 || (button && (style & BS_MULTILINE))) {
            RECT lines{0, 0, width, 0};
            DrawTextW(dc, text, -1, &lines, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
            EXPECT_LE(lines.right, width);
            EXPECT_LE(lines.bottom, room.bottom);
        } else {
            SIZE line{};
            GetTextExtentPoint32W(dc, text, lstrlenW(text), &line);
            EXPECT_LE(line.cx, width);
        }
        ReleaseDC(control, dc);
    }
}

// At the system's scale, whatever it is. tests/CMakeLists.txt runs it at 150 % too, in a prefix
// of its own, where the fonts grow and the layout has to grow with them.
TEST_F(Window, EveryTextFitsItsControl) {
    if (const char* asked = std::getenv("WINE_RUN_DPI")) {
        ASSERT_EQ(Scaled(96), std::atoi(asked)) << "the prefix's DPI";
    }
    Open();
    ExpectTextsFit();
    SendMessageW(Control(kExtractedFolder), BM_CLICK, 0, 0);  // the other source hint
    SendMessageW(Control(kDetailsToggle), BM_CLICK, 0, 0);    // "Hide details"
    ExpectTextsFit();
}

// The work area of the window's monitor. Under Wine, with no taskbar, the whole screen.
RECT WorkArea() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(s_window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

RECT Frame() {
    RECT frame{};
    GetWindowRect(s_window, &frame);
    return frame;
}

TEST_F(Window, IsCentredAcrossAThirdDownAndGrowsOnlyAtTheBottomForTheDetails) {
    Open();
    EXPECT_EQ(ClientSize().cx, 640);
    EXPECT_EQ(ClientSize().cy, 454);
    const RECT work = WorkArea(), frame = Frame();
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    EXPECT_EQ(frame.left, work.left + (work.right - work.left - width) / 2);
    EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - height) / 3);

    SendMessageW(Control(kDetailsToggle), BM_CLICK, 0, 0);
    EXPECT_EQ(ClientSize().cx, 640);
    EXPECT_EQ(ClientSize().cy, 692);
    EXPECT_TRUE(Visible(kDetails));
    EXPECT_EQ(Text(kDetailsToggle), L"Hide details");
    const RECT grown = Frame();
    ASSERT_LE(grown.bottom, work.bottom) << "a work area with room below the window";
    EXPECT_EQ(grown.left, frame.left);
    EXPECT_EQ(grown.top, frame.top);
    EXPECT_EQ(grown.bottom - frame.bottom, 238);

    SendMessageW(Control(kDetailsToggle), BM_CLICK, 0, 0);
    EXPECT_EQ(ClientSize().cy, 454);
    EXPECT_FALSE(Visible(kDetails));
    EXPECT_EQ(Text(kDetailsToggle), L"Show details");
}

TEST_F(Window, MovesUpForTheDetailsWhereTheyWouldReachPastTheWorkAreaAndBackWhenTheyHide) {
    Open();
    const RECT work = WorkArea();
    const RECT home = Frame();
    const int height = home.bottom - home.top;
    SetWindowPos(s_window, nullptr, work.left + 10, work.bottom - height - 100, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    const RECT rest = Frame();

    SendMessageW(Control(kDetailsToggle), BM_CLICK, 0, 0);
    const RECT raised = Frame();
    EXPECT_EQ(raised.left, rest.left);
    EXPECT_EQ(raised.bottom, work.bottom) << "up only as far as needed";
    EXPECT_EQ(raised.bottom - raised.top, height + 238);
    RECT details{};
    GetWindowRect(Control(kDetails), &details);
    EXPECT_EQ(details.bottom - details.top, 228) << "the work area has room for the whole box";

    SendMessageW(Control(kDetailsToggle), BM_CLICK, 0, 0);
    const RECT back = Frame();
    EXPECT_TRUE(EqualRect(&back, &rest)) << "back where it was";
}

TEST_F(Window, PaintsTheTwoHintsGreyOnTheWindowBackground) {
    Open();
    HDC dc = GetDC(s_window);
    for (int id : {kSourceHint, kFreeSpaceHint}) {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkMode(dc, OPAQUE);
        const LRESULT brush = SendMessageW(s_window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                           reinterpret_cast<LPARAM>(Control(id)));
        EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
        EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_GRAYTEXT));
        EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    }
    SetTextColor(dc, RGB(0, 0, 0));
    SendMessageW(s_window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(Control(kStatusLine)));
    EXPECT_NE(GetTextColor(dc), GetSysColor(COLOR_GRAYTEXT)) << "the status line keeps the normal colour";
    ReleaseDC(s_window, dc);
}

TEST_F(Window, AnInstallFolderHoldingTheGameStartsItsUpdateAtOnceWithUpdateMode) {
    Scratch disk;
    const fs::path dir = disk.Folder("Games\\QR");
    disk.File("Games\\QR\\quorin-recomp\\game\\extracted\\default.xex");
    Open({L"QuorinSetup.exe", L"--update", dir.wstring()});

    EXPECT_TRUE(s_updateMode);
    EXPECT_EQ(Text(kInstallFolder), dir.wstring());
    EXPECT_EQ(Text(kInstallButton), L"Update");
    EXPECT_EQ(Text(kStatusLine), L"Already installed here: Update gets the latest version and rebuilds.");
    EXPECT_EQ(Text(kSourceHint), L"Not needed: the game's files are already in this install.");
    for (int id : {kDiscImage, kExtractedFolder, kSourcePath, kBrowseSource, kDeleteIso}) EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(kInstallFolder));

    // Start-up pressed the button itself: the run needs no game copy here and gets past that phase.
    ASSERT_TRUE(PumpUntil([] { return s_busy; }));
    const std::vector<Box> boxes = Finish({IDOK});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, L"warning");
    EXPECT_EQ(boxes[0].text, kNoGitHub);
    EXPECT_TRUE(fs::exists(dir / "setup.log"));
    EXPECT_TRUE(Enabled(kSourcePath)) << "the end of a run unlocks every choice";
}

TEST_F(Window, ExistingInstallIsRecognisedOnceAtStart) {
    Scratch disk;
    const fs::path dir = disk.Folder("QR");
    disk.File("QR\\quorin-recomp\\game\\extracted\\default.xex");
    Open({L"QuorinSetup.exe", L"--update", dir.wstring()});
    // Take back the press that update mode posted, to look at the window before any run.
    MSG press;
    ASSERT_TRUE(PeekMessageW(&press, s_window, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(press.wParam, static_cast<WPARAM>(kInstallButton));

    SetText(kInstallFolder, disk.Folder("elsewhere").wstring());
    SendMessageW(s_window, WM_COMMAND, MAKEWPARAM(kInstallFolder, EN_KILLFOCUS),
                 reinterpret_cast<LPARAM>(Control(kInstallFolder)));
    EXPECT_EQ(Text(kInstallButton), L"Update");
    EXPECT_FALSE(Enabled(kSourcePath));
}

TEST_F(Window, UpdateArgumentsThatNameNoFolderStartNormally) {
    for (const auto& args : std::vector<std::vector<std::wstring>>{
             {L"QuorinSetup.exe", L"--update"}, {L"QuorinSetup.exe", L"--update", L""}}) {
        Open(args);
        EXPECT_FALSE(s_updateMode);
        EXPECT_EQ(Text(kInstallFolder), L"C:\\Quorin-Recomp");
        MSG press;
        EXPECT_FALSE(PeekMessageW(&press, s_window, WM_COMMAND, WM_COMMAND, PM_REMOVE)) << "nothing was pressed";
        Close();
    }
}

// The real program, copied into a folder that holds a clone, proposes that folder.
TEST(StartUp, ProgramInsideAnInstallFolderProposesThatFolder) {
    Scratch disk;
    const fs::path dir = disk.Folder("My Games\\Quorin");
    disk.Folder("My Games\\Quorin\\quorin-recomp\\.git");
    const fs::path exe = dir / "QuorinSetup.exe";
    fs::copy_file(testing_support::HostPath("QUORIN_SETUP_EXE"), exe);

    std::wstring command = L"\"" + exe.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    WaitForInputIdle(process.hProcess, 30000);
    struct Found {
        DWORD id;
        HWND window = nullptr;
    } found{process.dwProcessId};
    EnumWindows(
        [](HWND window, LPARAM lParam) {
            auto* found = reinterpret_cast<Found*>(lParam);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t type[32] = L"";
            GetClassNameW(window, type, 32);
            if (owner != found->id || std::wstring(type) != L"QuorinSetup") return TRUE;
            found->window = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    ASSERT_NE(found.window, nullptr);
    wchar_t folder[MAX_PATH] = L"";
    SendMessageW(GetDlgItem(found.window, kInstallFolder), WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    EXPECT_EQ(std::wstring(folder), dir.wstring());

    PostMessageW(found.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0) << "closing while idle asks nothing";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace
