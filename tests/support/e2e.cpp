#include "support/e2e.h"

#include "base/text.h"
#include "support/program.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "win/handle.h"
#include "window/controls.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace testing_support {
namespace {

constexpr ULONGLONG kRunLimit = 120000;  // ms for one run, start to final message
constexpr DWORD kEndLimit = 30000;       // ms for the program, and all it started, to end
constexpr DWORD kPoll = 10;              // ms between looks at the window

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

// The setup window once start-up has shown it, with all its controls.
HWND MainWindow(const Program& setup) {
    const auto shown = [](HWND window) { return ClassOf(window) == L"QuorinSetup" && IsWindowVisible(window); };
    HWND window = nullptr;
    WaitUntil(kEndLimit, [&] { return (window = FindWindowOf(setup.id(), shown)) || setup.Ended(); });
    return window;
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

// Whether the window, having handled what came before, shows no box and runs nothing (a run
// would have begun within the press of Install that asked the last question).
bool Idle(HWND window) {
    Send(window, WM_NULL, 0, 0);
    return !BoxOf(window) && TextOf(GetDlgItem(window, setup::kInstallButton)) == L"Install";
}

// Runs until the final message, until the program ends without one, or, for a run that doesn't
// start, until the window is idle after the last answer.
void Watch(HWND window, const Program& setup, const Launch& launch, Outcome& outcome) {
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
        if (HWND box = BoxOf(window)) {
            Box seen = ReadBox(box);
            if (!seen.yesNo) {
                outcome.finalScreen = ScreenOf(window);
                outcome.details = TextIn(GetDlgItem(window, setup::kDetails));
                outcome.detailsShown = IsWindowVisible(GetDlgItem(window, setup::kDetails));
                outcome.playShown = IsWindowVisible(GetDlgItem(window, setup::kPlay));
                outcome.final = std::move(seen);
                if (launch.atFinal) launch.atFinal(box);
                Press(box, IDOK);
                break;
            }
            const bool expected = answered < launch.answers.size();
            EXPECT_TRUE(expected) << "an unexpected question: " << Utf8(seen.text);
            Press(box, expected ? launch.answers[answered++] : IDNO);
            outcome.questions.push_back(std::move(seen));
        }
        if (!launch.starts && answered == launch.answers.size() && Idle(window)) break;
        if (setup.Ended(kPoll)) break;
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
    const setup::win::Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    FILETIME created{}, exited, kernel, user;
    const bool known = process && GetProcessTimes(process.get(), &created, &exited, &kernel, &user);
    return known ? (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime : 0;
}

// The processes that `root` started, and they in turn, still running at the end of `limit` ms.
// Process IDs are reused: a process older than its parent's ID is the child of an earlier
// holder of that ID (Wine's services name the long-gone program that first started Wine).
std::vector<std::wstring> LeftWindows(DWORD root, DWORD limit) {
    std::multimap<DWORD, PROCESSENTRY32W> children;
    const setup::win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        children.emplace(entry.th32ParentProcessID, entry);

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
            const setup::win::Handle handle(OpenProcess(SYNCHRONIZE, FALSE, process.th32ProcessID));
            const ULONGLONG now = GetTickCount64();
            const DWORD wait = now < end ? static_cast<DWORD>(end - now) : 0;
            if (handle && WaitForSingleObject(handle.get(), wait) == WAIT_TIMEOUT) left.push_back(process.szExeFile);
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
    HWND box = nullptr;
    if (!WaitUntil(kEndLimit, [&] { return (box = BoxOf(window)) != nullptr; })) return {};
    Box seen = ReadBox(box);
    Press(box, button);
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
    const std::wstring exe = launch.exe.empty() ? HostPath("QUORIN_SANDBOX_SETUP_EXE") : launch.exe;
    if (exe.empty()) {
        ADD_FAILURE() << "QUORIN_SANDBOX_SETUP_EXE doesn't name the test build";
        return outcome;
    }
    // As a user starts it, from its own folder. One still running when the test gives up on it is
    // ended, so that it can't disturb the next run.
    const Program setup(
        setup::Quote(exe) + (launch.update ? L" --update " + setup::Quote(launch.dir) : L""),
        {.folder = exe.substr(0, exe.rfind(L'\\')), .environment = Environment(launch), .endAtClose = true});
    if (!setup.started()) {
        ADD_FAILURE() << "can't start the test build: error " << setup.error();
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
    if (!setup.Ended()) {
        if (launch.atEnd)
            launch.atEnd(window);
        else
            PostMessageW(window, WM_CLOSE, 0, 0);
    }
    EXPECT_TRUE(setup.Ended(kEndLimit)) << "the program didn't end";
    outcome.log = FileText(launch.dir + L"\\setup.log");
    outcome.leftWindows = LeftWindows(setup.id(), kEndLimit / 3);
    outcome.leftLinux = LeftLinux(launch.dir, kEndLimit / 3);
    return outcome;
}

}  // namespace testing_support
