// The programs that the tests start themselves (the test build, the launcher, the test child, the
// bridge's stand-ins), their output and their windows, and what the launcher records. For the test
// programs too: no GoogleTest.
#pragma once

#include "win/handle.h"

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testing_support {

// How a program starts: by default in this program's folder and environment, hidden, and on its own.
struct Start {
    std::wstring folder{};       // its current folder; "": this program's
    std::wstring environment{};  // its variables, as CreateProcessW takes them; "": this program's
    HANDLE job = nullptr;        // it runs in the job from its first instruction
    bool output = false;         // its standard output and error come merged through a pipe of ours
    bool sharesOutput = false;   // it writes to this program's standard output
    bool suspended = false;      // it is never let run
    bool endAtClose = false;     // still running when the Program goes (a test gave up on it), it ends
};

class Program {
public:
    explicit Program(std::wstring commandLine, const Start& start = {}) : endAtClose_(start.endAtClose) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        setup::win::Handle write;
        if (start.output) {
            CreatePipe(read_.Receive(), write.Receive(), &inherit, 0);
            SetHandleInformation(read_.get(), HANDLE_FLAG_INHERIT, 0);
        }
        const bool inherits = start.output || start.sharesOutput;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = inherits ? STARTF_USESTDHANDLES : 0;
        startup.hStdOutput = startup.hStdError = start.sharesOutput ? GetStdHandle(STD_OUTPUT_HANDLE) : write.get();
        const DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT;
        std::wstring environment = start.environment;
        PROCESS_INFORMATION process{};
        // Wine 8 on a loaded machine now and then refuses a start with ERROR_INTERNAL_ERROR that
        // goes through a moment later: the tests' own starts try again rather than fail a test.
        for (int tried = 1;; ++tried) {
            if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, inherits, flags,
                               environment.empty() ? nullptr : environment.data(),
                               start.folder.empty() ? nullptr : start.folder.c_str(), &startup, &process))
                break;
            error_ = GetLastError();
            if (error_ != ERROR_INTERNAL_ERROR || tried == 3) return;
            Sleep(200);
        }
        process_.Attach(process.hProcess);
        const setup::win::Handle thread(process.hThread);
        id_ = process.dwProcessId;
        if (start.job && !AssignProcessToJobObject(start.job, process_.get())) {
            error_ = GetLastError();
            TerminateProcess(process_.get(), 1);
            process_.Close();
        } else if (!start.suspended) {
            ResumeThread(thread.get());
        }
    }
    ~Program() {
        if (endAtClose_ && process_ && !Ended()) TerminateProcess(process_.get(), 1);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return static_cast<bool>(process_); }
    DWORD error() const { return error_; }  // why it didn't start
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }

    // The next line of output with its "\n", or what is left at the end.
    std::string ReadLine() {
        std::string line;
        char c;
        DWORD got = 0;
        while (::ReadFile(read_.get(), &c, 1, &got, nullptr) && got) {
            line += c;
            if (c == '\n') break;
        }
        return line;
    }

    // Hands the rest of the output to `take`, piece by piece as the pipe gives it.
    template <typename Take>
    void ReadEach(Take take) {
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(read_.get(), buffer, sizeof buffer, &got, nullptr) && got)
            take(std::string_view(buffer, got));
    }

    std::string ReadAll() {
        std::string output;
        ReadEach([&output](std::string_view piece) { output += piece; });
        return output;
    }

    // Whether it has ended, or does within `limit` ms.
    bool Ended(DWORD limit = 0) const { return WaitForSingleObject(process_.get(), limit) == WAIT_OBJECT_0; }

    // Waits for its exit code: -1 when it didn't start.
    int Wait() const {
        DWORD code = static_cast<DWORD>(-1);
        if (Ended(INFINITE)) GetExitCodeProcess(process_.get(), &code);
        return static_cast<int>(code);
    }

private:
    setup::win::Handle process_, read_;
    DWORD id_ = 0, error_ = 0;
    bool endAtClose_;
};

struct Finished {
    int code;
    std::string output;
};

// Runs a program hidden to its end, with its output.
inline Finished RunProgram(const std::wstring& commandLine, const std::wstring& folder = L"") {
    Program program(commandLine, {.folder = folder, .output = true});
    if (!program.started()) return {-1, "can't start it: error " + std::to_string(program.error())};
    std::string output = program.ReadAll();
    return {program.Wait(), output};
}

inline std::wstring ClassOf(HWND window) {
    wchar_t type[64] = L"";
    GetClassNameW(window, type, 64);
    return type;
}

// A window's text as the system keeps it, not asked of the window, which may be busy.
inline std::wstring TextOf(HWND window) {
    wchar_t text[4096] = L"";
    InternalGetWindowText(window, text, 4096);
    return text;
}

// The first top-level window of `process` for which `wanted` holds, or null.
inline HWND FindWindowOf(DWORD process, const std::function<bool(HWND)>& wanted) {
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

// What the launcher test program (programs/launcher.cpp) records when it starts: its folder, then
// each argument, a line each in `file`; then it sets the event.
struct LauncherRecord {
    explicit LauncherRecord(std::filesystem::path in) : file(std::move(in)) {
        std::error_code error;
        std::filesystem::remove(file, error);  // an earlier start's
    }
    // The variables that make a launcher started with them record here.
    std::vector<std::pair<std::wstring, std::wstring>> Variables() const {
        return {{L"QUORIN_LAUNCHER_RECORD", file.wstring()}, {L"QUORIN_LAUNCHER_EVENT", event}};
    }

    std::filesystem::path file;
    std::wstring event =
        L"QuorinLauncherStarted-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    setup::win::Handle started{CreateEventW(nullptr, TRUE, FALSE, event.c_str())};
    static inline int count = 0;
};

}  // namespace testing_support
