#include "support/e2e.h"

#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "win/handle.h"
#include "window/controls.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

namespace testing_support {
namespace {

constexpr ULONGLONG kRunLimit = 120000;  // ms for one run, start to final message
constexpr DWORD kEndLimit = 30000;       // ms for the program, and all it started, to end
constexpr DWORD kPoll = 10;              // ms between looks at the window

// Closes a process handle; a program that is still running then (a test that gave up on it)
// is ended first, so that it can't disturb the next run.
struct Process {
    PROCESS_INFORMATION info{};
    ~Process() {
        if (!info.hProcess) return;
        if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hProcess);
    }
};

struct NoCase {  // environment variables are named in any case
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};

// This program's environment with the launch's PATH and variables, as CreateProcessW takes it.
std::wstring Environment(const Launch& launch) {
    std::map<std::wstring, std::wstring, NoCase> variables;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        const wchar_t* equals = wcschr(entry + 1, L'=');  // "=C:=C:\..." names start with "="
        if (equals) variables[std::wstring(entry, equals)] = equals + 1;
    }
    FreeEnvironmentStringsW(block);
    variables[L"PATH"] = launch.path.empty() ? SystemPath() : launch.path + L";" + SystemPath();
    for (const auto& [name, value] : launch.environment) variables[name] = value;
    std::wstring environment;
    for (const auto& [name, value] : variables) environment += name + L"=" + value + L'\0';
    return environment + L'\0';
}

bool Start(const Launch& launch, Process& setup) {
    const std::wstring exe = launch.exe.empty() ? HostPath("QUORIN_SANDBOX_SETUP_EXE") : launch.exe;
    if (exe.empty()) {
        ADD_FAILURE() << "QUORIN_SANDBOX_SETUP_EXE doesn't name the test build";
        return false;
    }
    std::wstring commandLine = Quoted(exe) + (launch.update ? L" --update " + Quoted(launch.dir) : L"");
    std::wstring environment = Environment(launch);
    const std::wstring folder = exe.substr(0, exe.rfind(L'\\'));  // where a user starts it from
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          environment.data(), folder.c_str(), &startup, &setup.info) &&
           CloseHandle(setup.info.hThread);
}

std::wstring ClassOf(HWND window) {
    wchar_t type[64] = L"";
    GetClassNameW(window, type, 64);
    return type;
}

std::wstring TextOf(HWND window) {
    wchar_t text[4096] = L"";
    InternalGetWindowText(window, text, 4096);  // asks the system, not the busy window
    return text;
}

// The first top-level window of `process` for which `wanted` holds.
HWND FindWindowOf(DWORD process, const std::function<bool(HWND)>& wanted) {
    struct Search {
        DWORD process;
        const std::function<bool(HWND)>& wanted;
        HWND found = nullptr;
    } search{process, wanted};
    EnumWindows(
        [](HWND window, LPARAM lParam) {
            auto* search = reinterpret_cast<Search*>(lParam);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != search->process || !search->wanted(window)) return TRUE;
            search->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The setup window once start-up has shown it, with all its controls.
HWND MainWindow(const Process& setup) {
    const auto shown = [](HWND window) { return ClassOf(window) == L"QuorinSetup" && IsWindowVisible(window); };
    HWND window = nullptr;
    WaitUntil(kEndLimit, [&] {
        window = FindWindowOf(setup.info.dwProcessId, shown);
        return window || WaitForSingleObject(setup.info.hProcess, 0) == WAIT_OBJECT_0;
    });
    return window;
}

// A message box that the window shows, or null.
HWND BoxOf(HWND window, DWORD process) {
    return FindWindowOf(process, [window](HWND w) {
        return ClassOf(w) == L"#32770" && GetWindow(w, GW_OWNER) == window && IsWindowVisible(w);
    });
}

LRESULT Send(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(control, message, wParam, lParam, SMTO_NORMAL, kEndLimit, &result);
    return static_cast<LRESULT>(result);
}

// A control's text as the control itself holds it (an edit keeps its own).
std::wstring TextIn(HWND control) {
    std::wstring text(static_cast<std::size_t>(Send(control, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    const LRESULT length = Send(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void SetText(HWND window, int id, const std::wstring& text) {
    HWND control = GetDlgItem(window, id);
    Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    EXPECT_EQ(TextIn(control), text) << "control " << id << " didn't take the text";
}

void SetCheck(HWND window, int id, bool checked) {
    HWND control = GetDlgItem(window, id);
    const auto isChecked = [control] { return Send(control, BM_GETCHECK, 0, 0) == BST_CHECKED; };
    if (isChecked() != checked) Send(control, BM_CLICK, 0, 0);
    EXPECT_EQ(isChecked(), checked) << "control " << id << " can't be set so";
}

// Sent, so each is done before the next (the options don't ask anything); only Install is
// posted, because the questions it asks would hold a sent message until they are answered. Each
// is checked, so a test never runs with other choices than it asked for.
void Fill(HWND window, const Launch& launch) {
    SetCheck(window, launch.form.extractedFolder ? setup::kExtractedFolder : setup::kDiscImage, true);
    SetText(window, setup::kSourcePath, launch.form.source);
    SetText(window, setup::kInstallFolder, launch.dir);
    SetCheck(window, setup::kShortcut, launch.form.shortcut);
    SetCheck(window, setup::kCleanup, launch.form.cleanup);
    SetCheck(window, setup::kDeleteIso, launch.form.deleteIso);
}

// The pixels of a part of the screen, or of the icon drawn on `background`, 32 bits each.
std::vector<DWORD> Pixels(const RECT& area, HICON icon = nullptr, COLORREF background = 0) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, picture);
    if (icon) {
        HBRUSH brush = CreateSolidBrush(background);
        const RECT all{0, 0, width, height};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    } else {
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    }
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + width * height);
    SelectObject(memory, old);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// How far apart two pictures are: the mean difference of a colour channel, 0 to 255.
double Difference(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16})
            sum += std::abs(static_cast<int>((a[i] >> shift) & 0xff) - static_cast<int>((b[i] >> shift) & 0xff));
    return a.empty() ? 255 : sum / (3.0 * a.size());
}

// Which standard icon the box shows, told by its pixels on the screen: another program's icon
// handle means nothing in this one.
std::wstring IconOf(HWND box) {
    HWND icon = nullptr;
    EnumChildWindows(
        box,
        [](HWND control, LPARAM lParam) {
            if (ClassOf(control) == L"Static" && (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                *reinterpret_cast<HWND*>(lParam) = control;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&icon));
    RECT area{};
    if (!icon || !GetWindowRect(icon, &area) || area.right <= area.left) return L"";
    const std::pair<const wchar_t*, LPCWSTR> kinds[] = {
        {L"warning", IDI_WARNING}, {L"information", IDI_INFORMATION}, {L"question", IDI_QUESTION},
        {L"error", IDI_ERROR}};
    // Until it has been drawn, and isn't covered by a window of another test on the same desktop.
    const wchar_t* found = L"?";
    WaitUntil(200 * kPoll, [&] {
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        const std::vector<DWORD> seen = Pixels(area);
        for (const auto& [name, id] : kinds)
            if (Difference(seen, Pixels(area, LoadIconW(nullptr, id), seen.front() & 0xffffff)) < 2) found = name;
        return *found != L'?';
    });
    return found;
}

Box ReadBox(HWND box) {
    Box seen;
    seen.caption = TextOf(box);
    seen.text = TextOf(GetDlgItem(box, 0xFFFF));  // the message's label in every message box
    seen.yesNo = GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO);
    seen.icon = IconOf(box);
    return seen;
}

void Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    WaitUntil(kEndLimit, [box] { return !IsWindow(box); });
}

// Whether the window, having handled what came before, shows no box and runs nothing (a run
// would have begun within the press of Install that asked the last question).
bool Idle(HWND window, DWORD process) {
    Send(window, WM_NULL, 0, 0);
    return !BoxOf(window, process) && TextOf(GetDlgItem(window, setup::kInstallButton)) == L"Install";
}

// Runs until the final message, until the program ends without one, or, for a run that doesn't
// start, until the window is idle after the last answer.
void Watch(HWND window, const Process& setup, const Launch& launch, Outcome& outcome) {
    std::vector<bool> done(launch.steps.size());
    std::size_t answered = 0;
    for (const ULONGLONG end = GetTickCount64() + kRunLimit;;) {
        const std::wstring status = TextOf(GetDlgItem(window, setup::kStatusLine));
        if (outcome.statuses.empty() || outcome.statuses.back() != status) outcome.statuses.push_back(status);
        for (std::size_t i = 0; i < done.size(); ++i) {
            if (done[i] || !status.starts_with(launch.steps[i].status)) continue;
            done[i] = true;
            launch.steps[i].action(window);
        }
        if (HWND box = BoxOf(window, setup.info.dwProcessId)) {
            Box seen = ReadBox(box);
            if (!seen.yesNo) {
                outcome.finalScreen = ScreenOf(window);
                outcome.details = TextIn(GetDlgItem(window, setup::kDetails));
                outcome.detailsShown = IsWindowVisible(GetDlgItem(window, setup::kDetails));
                outcome.playShown = IsWindowVisible(GetDlgItem(window, setup::kPlay));
                outcome.final = std::move(seen);
                if (launch.atFinal) launch.atFinal(box);
                Answer(box, IDOK);
                break;
            }
            const bool expected = answered < launch.answers.size();
            EXPECT_TRUE(expected) << "an unexpected question: " << Utf8(seen.text);
            Answer(box, expected ? launch.answers[answered++] : IDNO);
            outcome.questions.push_back(std::move(seen));
        }
        if (!launch.starts && answered == launch.answers.size() && Idle(window, setup.info.dwProcessId)) break;
        if (WaitForSingleObject(setup.info.hProcess, kPoll) == WAIT_OBJECT_0) break;
        if (GetTickCount64() > end) {
            ADD_FAILURE() << "the run didn't end; the status line read " << Utf8(status);
            break;
        }
    }
    for (std::size_t i = 0; i < done.size(); ++i)
        EXPECT_TRUE(done[i]) << "the status line never read " << Utf8(launch.steps[i].status);
}

// When a process started, in FILETIME units; 0 when it can't be asked (it may have ended).
ULONGLONG Started(DWORD pid) {
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    FILETIME created{}, exited, kernel, user;
    const bool known = handle && GetProcessTimes(handle, &created, &exited, &kernel, &user);
    if (handle) CloseHandle(handle);
    return known ? (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime : 0;
}

// The processes that `root` started, and they in turn, still running at the end of `limit` ms.
// Process IDs are reused: a process older than its parent's ID is the child of an earlier
// holder of that ID (Wine's services name the long-gone program that first started Wine).
std::vector<std::wstring> LeftWindows(DWORD root, DWORD limit) {
    std::multimap<DWORD, PROCESSENTRY32W> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        children.emplace(entry.th32ParentProcessID, entry);
    CloseHandle(snapshot);

    std::vector<std::wstring> left;
    std::set<DWORD> seen;
    const ULONGLONG end = GetTickCount64() + limit;
    for (std::vector<std::pair<DWORD, ULONGLONG>> parents{{root, Started(root)}}; !parents.empty();) {
        const auto [parent, parentStarted] = parents.back();
        parents.pop_back();
        for (auto [child, last] = children.equal_range(parent); child != last; ++child) {
            const PROCESSENTRY32W& process = child->second;
            // Wine's desktop, started by whichever program first shows a window, stays.
            const bool desktop = _wcsicmp(process.szExeFile, L"explorer.exe") == 0;
            const ULONGLONG started = Started(process.th32ProcessID);
            const bool older = started && parentStarted && started < parentStarted;
            if (!seen.insert(process.th32ProcessID).second || desktop || older) continue;
            parents.emplace_back(process.th32ProcessID, started);
            HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process.th32ProcessID);
            const ULONGLONG now = GetTickCount64();
            if (handle && WaitForSingleObject(handle, now < end ? static_cast<DWORD>(end - now) : 0) == WAIT_TIMEOUT)
                left.push_back(process.szExeFile);
            if (handle) CloseHandle(handle);
        }
    }
    return left;
}

// The Unix name of a Windows path, as the bridge's stand-in names it.
std::string UnixName(const std::wstring& path) {
    using UnixNameFunction = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    const std::string result = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// The tools that the bridge runs for `dir`, still running at the end of `limit` ms.
std::vector<std::string> LeftLinux(const std::wstring& dir, DWORD limit) {
    HANDLE change = FindFirstChangeNotificationW(SandboxPath(L"state").c_str(), FALSE,
                                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
    std::vector<std::string> left = BridgeTools(dir);
    for (const ULONGLONG end = GetTickCount64() + limit; !left.empty() && GetTickCount64() < end;
         left = BridgeTools(dir)) {
        WaitForSingleObject(change, 100);  // the bridge rewrites the file as each tool ends
        FindNextChangeNotification(change);
    }
    FindCloseChangeNotification(change);
    return left;
}

}  // namespace

void Click(HWND window, int id) { PostMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0); }

Screen ScreenOf(HWND window) {
    HWND bar = GetDlgItem(window, setup::kProgressBar);
    Screen screen{TextOf(GetDlgItem(window, setup::kStatusLine)), -1};
    if (!(GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE)) screen.bar = static_cast<int>(Send(bar, PBM_GETPOS, 0, 0));
    return screen;
}

Box AnswerBox(HWND window, int button) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    HWND box = nullptr;
    if (!WaitUntil(kEndLimit, [&] { return (box = BoxOf(window, process)) != nullptr; })) return {};
    Box seen = ReadBox(box);
    Answer(box, button);
    return seen;
}

std::vector<std::string> Lines(const std::string& log) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < log.size(); start = end + 1) {
        end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        lines.push_back(log.substr(start, end - start - (end > start && log[end - 1] == '\r')));
    }
    return lines;
}

std::string LastRun(const std::string& log) {
    return log.substr(std::min(log.rfind("Quorin Recompiled Setup, installing to "), log.size()));
}

std::vector<std::string> BridgeTools(const std::wstring& dir) {
    const std::string unixDir = UnixName(dir);
    EXPECT_FALSE(unixDir.empty()) << "Wine can't name " << Utf8(dir);
    std::vector<std::string> lines;
    for (const std::string& line : Lines(FileText(SandboxPath(L"state\\running"))))
        if (!unixDir.empty() && line.find(unixDir) != std::string::npos) lines.push_back(line);
    return lines;
}

Outcome RunSetup(const Launch& launch) {
    Outcome outcome;
    Process setup;
    if (!Start(launch, setup)) {
        ADD_FAILURE() << "can't start the test build: error " << GetLastError();
        return outcome;
    }
    const HWND window = MainWindow(setup);
    if (!window) {
        ADD_FAILURE() << "the test build showed no window";
        return outcome;
    }
    if (!launch.update) {
        Fill(window, launch);
        if (launch.filled) launch.filled(window);
        Click(window, setup::kInstallButton);
    }
    Watch(window, setup, launch, outcome);
    if (WaitForSingleObject(setup.info.hProcess, 0) == WAIT_TIMEOUT) {
        if (launch.atEnd)
            launch.atEnd(window);
        else
            PostMessageW(window, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(WaitForSingleObject(setup.info.hProcess, kEndLimit), WAIT_OBJECT_0) << "the program didn't end";
    outcome.log = FileText(launch.dir + L"\\setup.log");
    outcome.leftWindows = LeftWindows(setup.info.dwProcessId, kEndLimit / 3);
    outcome.leftLinux = LeftLinux(launch.dir, kEndLimit / 3);
    return outcome;
}

}  // namespace testing_support
