// The setup window as start-up makes it: its controls, look and place, and what it finds at
// start. The real window, driven with real messages under Wine.
#include "base/text.h"
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

TEST_F(Window, ControlsAreCreatedInTabOrderOfTheirKindWithTheirText) {
    OpenRecording();
    struct Expected {
        int id;
        const wchar_t* kind;
        const wchar_t* text;  // nullptr: not compared
    };
    const Expected expected[] = {
        {0, L"icon", L""},
        {0, L"label", L"Quorin Recompiled Setup"},
        {0, L"label",
         L"Builds the game from your own copy of Quorin. The build tools are downloaded if they aren't installed; "
         L"nothing from the game is downloaded."},
        {kSourceFrame, L"group box", L"Your copy of Quorin"},
        {kDiscImage, L"radio button", L"Disc image (.iso)"},
        {kExtractedFolder, L"radio button", L"Extracted disc folder"},
        {kSourcePath, L"edit", L""},
        {kBrowseSource, L"button", L"Browse..."},
        {kSourceHint, L"label", L"A dump of your own Xbox 360 disc of Quorin (2007)."},
        {0, L"group box", L"Install folder"},
        {kInstallFolder, L"edit", L"C:\\Quorin-Recomp"},
        {kBrowseFolder, L"button", L"Browse..."},
        {kFreeSpaceHint, L"label", nullptr},
        {0, L"group box", L"When it's done"},
        {kShortcut, L"check box", L"Add a desktop shortcut to the launcher"},
        {kCleanup, L"check box",
         L"Free up space: delete the build tools and leftovers (2-4 GB; the next update gets them again and takes "
         L"longer)"},
        {kDeleteIso, L"check box", L"Delete the disc image once it's extracted (the game doesn't need it)"},
        {kStatusLine, L"one line cut short", L"Ready."},
        {kPlay, L"button", L"Play"},
        {kInstallButton, L"default button", L"Install"},
        {kProgressBar, L"progress bar", L""},
        {kDetailsToggle, L"button", L"Show details"},
        {kDetails, L"read-only text", L""},
    };
    ASSERT_EQ(s_created.size(), std::size(expected) + 1);
    const CREATESTRUCTW& main = s_created[0].asked;
    EXPECT_EQ(static_cast<DWORD>(main.style), 0xCA0000u);
    EXPECT_EQ(main.dwExStyle & ~WS_EX_WINDOWEDGE, 0u) << "the system adds the edge of a caption";
    EXPECT_EQ(main.cx, 100);
    EXPECT_EQ(main.cy, 100);
    EXPECT_EQ(main.hwndParent, nullptr);

    const std::vector<HWND> controls = testing_support::Controls();
    ASSERT_EQ(controls.size(), std::size(expected)) << "the controls that start-up made";
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const Expected& want = expected[i];
        const Created& made = s_created[i + 1];
        SCOPED_TRACE(testing::Message() << "control " << want.id << " " << Utf8(want.text ? want.text : L""));
        EXPECT_EQ(GetDlgCtrlID(controls[i]), want.id);
        EXPECT_EQ(testing_support::KindOf(controls[i]), want.kind);
        EXPECT_EQ(lstrcmpiW(made.type.c_str(), testing_support::ClassOf(controls[i]).c_str()), 0) << Utf8(made.type);
        EXPECT_EQ(made.asked.dwExStyle, 0u);
        EXPECT_EQ(made.asked.hInstance, GetModuleHandleW(nullptr));
        // As asked for, but for the frame that an edit takes over, and Play and the details, hidden at once.
        const DWORD live = GetWindowLongW(controls[i], GWL_STYLE), asked = made.asked.style;
        EXPECT_EQ((live ^ asked) & ~(WS_BORDER | WS_VISIBLE), 0u);
        EXPECT_TRUE(asked & WS_VISIBLE);
        EXPECT_EQ((live & WS_VISIBLE) != 0, want.id != kPlay && want.id != kDetails);
        wchar_t text[256] = L"";
        GetWindowTextW(controls[i], text, 256);
        if (want.text) {
            EXPECT_EQ(std::wstring(text), want.text);
        }
    }

    // Tab goes through what takes input, in that order (the hidden Play aside), and the arrow
    // keys between the two kinds of source.
    std::vector<int> tabbed = {kDiscImage};
    for (HWND at = Control(kDiscImage); tabbed.size() < 11;)
        tabbed.push_back(GetDlgCtrlID(at = GetNextDlgTabItem(s_window, at, FALSE)));
    EXPECT_EQ(tabbed, (std::vector<int>{kDiscImage, kSourcePath, kBrowseSource, kInstallFolder, kBrowseFolder,
                                        kShortcut, kCleanup, kDeleteIso, kInstallButton, kDetailsToggle, kDiscImage}));
    EXPECT_EQ(GetNextDlgGroupItem(s_window, Control(kDiscImage), FALSE), Control(kExtractedFolder));
    EXPECT_EQ(GetNextDlgGroupItem(s_window, Control(kExtractedFolder), FALSE), Control(kDiscImage));

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

// Each shown control lies in the client area, and overlaps another only inside a group box.
// Each control's text, in its own font, with a tenth of its width to spare: Windows' Segoe UI is
// wider than Wine's font. A label's lines, and a multi-line button's, wrapped at that width, fit
// the height; any other button's one line fits the width. A check box's or radio's text starts
// after its box.
void ExpectLaidOut() {
    RECT client{};
    GetClientRect(s_window, &client);
    const auto contains = [](const RECT& outer, const RECT& inner) {
        RECT both{};
        UnionRect(&both, &outer, &inner);
        return EqualRect(&both, &outer) != FALSE;
    };
    std::vector<std::pair<HWND, RECT>> shown;
    for (HWND control : testing_support::Controls()) {
        wchar_t text[256] = L"";
        GetWindowTextW(control, text, 256);
        SCOPED_TRACE(Utf8(text));
        const std::wstring kind = testing_support::KindOf(control);
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        RECT place{};
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, s_window, reinterpret_cast<POINT*>(&place), 2);
        if (style & WS_VISIBLE) {
            EXPECT_TRUE(contains(client, place)) << "inside the client area";
            for (const auto& [other, otherPlace] : shown) {
                RECT common{};
                const bool inGroup = testing_support::KindOf(other) == L"group box" && contains(otherPlace, place);
                EXPECT_TRUE(!IntersectRect(&common, &place, &otherPlace) || inGroup)
                    << "overlaps control " << GetDlgCtrlID(other);
            }
            shown.push_back({control, place});
        }

        RECT room{};
        GetClientRect(control, &room);
        if (kind == L"check box" || kind == L"radio button") room.right -= GetSystemMetrics(SM_CXMENUCHECK);
        const LONG width = room.right * 10 / 11;  // the text a tenth wider
        HDC dc = GetDC(control);
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        const bool button = lstrcmpiW(testing_support::ClassOf(control).c_str(), L"Button") == 0;
        if (kind == L"label" || kind == L"one line cut short" || (button && (style & BS_MULTILINE))) {
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
// of its own, where the fonts and the layout grow.
TEST_F(Window, EveryControlFitsTheWindowAndEveryTextItsControl) {
    if (const char* asked = std::getenv("WINE_RUN_DPI")) {
        ASSERT_EQ(Scaled(96), std::atoi(asked)) << "the prefix's DPI";
    }
    Open();
    ExpectLaidOut();
    SendMessageW(Control(kExtractedFolder), BM_CLICK, 0, 0);  // the other source hint
    SendMessageW(Control(kDetailsToggle), BM_CLICK, 0, 0);    // "Hide details", and the details box
    ExpectLaidOut();
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

    const testing_support::Program program(Quote(exe), {.endAtClose = true});
    ASSERT_TRUE(program.started());
    WaitForInputIdle(program.handle(), 30000);
    const HWND window = testing_support::FindWindowOf(
        program.id(), [](HWND window) { return testing_support::ClassOf(window) == L"QuorinSetup"; });
    ASSERT_NE(window, nullptr);
    wchar_t folder[MAX_PATH] = L"";
    SendMessageW(GetDlgItem(window, kInstallFolder), WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    EXPECT_EQ(std::wstring(folder), dir.wstring());

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.Ended(30000)) << "closing while idle asks nothing";
}

}  // namespace
