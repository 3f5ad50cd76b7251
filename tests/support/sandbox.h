// The end-to-end sandbox as a Windows test sees it (tests/sandbox/README.md): its folder, its
// fault switches and request log, the bridge's stand-in, and running a program to its end with
// its output. CTest sets QUORIN_SANDBOX and QUORIN_STANDIN for the tests that use the sandbox.
#pragma once

#include "support/host_path.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace testing_support {

// A path inside the sandbox folder, e.g. SandboxPath(L"game.iso").
inline std::wstring SandboxPath(const std::wstring& relative) { return HostPath("QUORIN_SANDBOX") + L"\\" + relative; }

inline std::string FileText(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sets the fault switches, replacing the file at once so that the service never reads half of
// it; "" turns every switch off.
inline void SetFaults(const std::string& json) {
    const std::wstring path = SandboxPath(L"state\\faults.json"), temporary = path + L".new";
    std::ofstream(std::filesystem::path(temporary), std::ios::binary) << json;
    MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The requests the service answered since ClearRequests, one "GET /path 200" a line.
inline std::string Requests() { return FileText(SandboxPath(L"state\\requests.log")); }
inline void ClearRequests() { DeleteFileW(SandboxPath(L"state\\requests.log").c_str()); }

// Copies the bridge's stand-in into a folder under a tool's name (git.exe, python.exe...) and
// returns its path.
inline std::wstring StandIn(const std::wstring& folder, const std::wstring& name) {
    const std::wstring path = folder + L"\\" + name;
    CopyFileW(HostPath("QUORIN_STANDIN").c_str(), path.c_str(), FALSE);
    return path;
}

// This process's PATH now.
inline std::wstring CurrentPath() {
    std::wstring path(32768, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// Puts a folder in front of PATH for its lifetime; child processes inherit it.
class PathPrefix {
public:
    explicit PathPrefix(const std::wstring& folder) : old_(CurrentPath()) {
        SetEnvironmentVariableW(L"PATH", (folder + L";" + old_).c_str());
    }
    ~PathPrefix() { SetEnvironmentVariableW(L"PATH", old_.c_str()); }
    PathPrefix(const PathPrefix&) = delete;
    PathPrefix& operator=(const PathPrefix&) = delete;

private:
    std::wstring old_;
};

// A program started hidden, its standard output and error merged into one pipe.
class Program {
public:
    explicit Program(std::wstring commandLine, const std::wstring& folder = L"", HANDLE job = nullptr) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write = nullptr;
        CreatePipe(&read_, &write, &inherit, 0);
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = write;
        PROCESS_INFORMATION process{};
        // Wine 8 on a loaded machine now and then refuses a start with ERROR_INTERNAL_ERROR that
        // goes through a moment later: the tests' own starts try again rather than fail a test.
        for (int tried = 1;; ++tried) {
            if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                               nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
                if (job) AssignProcessToJobObject(job, process.hProcess);
                ResumeThread(process.hThread);
                CloseHandle(process.hThread);
                process_ = process.hProcess;
                break;
            }
            error_ = GetLastError();
            if (error_ != ERROR_INTERNAL_ERROR || tried == 3) break;
            Sleep(200);
        }
        CloseHandle(write);
    }
    ~Program() {
        if (process_) CloseHandle(process_);
        CloseHandle(read_);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD error() const { return error_; }  // why it didn't start

    // The next line of output with its "\n", or what is left at the end.
    std::string ReadLine() {
        std::string line;
        char c;
        DWORD got = 0;
        while (::ReadFile(read_, &c, 1, &got, nullptr) && got) {
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
        while (::ReadFile(read_, buffer, sizeof buffer, &got, nullptr) && got) take(std::string_view(buffer, got));
    }

    // Reads the rest of the output and waits for the exit code (-1 when it didn't start).
    std::string ReadAll() {
        std::string output;
        ReadEach([&output](std::string_view piece) { output += piece; });
        return output;
    }
    int Wait() {
        DWORD code = static_cast<DWORD>(-1);
        if (process_ && WaitForSingleObject(process_, INFINITE) == WAIT_OBJECT_0) GetExitCodeProcess(process_, &code);
        return static_cast<int>(code);
    }

private:
    HANDLE read_ = nullptr;
    HANDLE process_ = nullptr;
    DWORD error_ = 0;
};

struct Finished {
    int code;
    std::string output;
};

inline Finished RunProgram(const std::wstring& commandLine, const std::wstring& folder = L"") {
    Program program(commandLine, folder);
    if (!program.started()) return {-1, "can't start it: error " + std::to_string(program.error())};
    std::string output = program.ReadAll();
    return {program.Wait(), output};
}

inline std::string Utf8(const std::wstring& text) {
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, nullptr));
    return bytes;
}

inline std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// Runs Python `code` (no double quotes in it) on the Linux side, through the bridge, with paths as
// its arguments; throws with `what` when it fails.
inline void OnLinux(const std::wstring& code, std::initializer_list<std::filesystem::path> paths, const char* what) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / L"quorin-linux-side";
    std::filesystem::create_directories(folder);
    std::wstring command = Quoted(StandIn(folder.wstring(), L"python.exe")) + L" -c \"" + code + L"\"";
    for (const std::filesystem::path& path : paths) command += L" " + Quoted(path.wstring());
    const Finished done = RunProgram(command);
    if (done.code != 0) throw std::runtime_error(std::string(what) + ": " + done.output);
}

// Makes `link` a Linux symbolic link to the folder `target`, which Wine shows as a folder link (a
// reparse point), as Windows shows a junction; Wine's own calls make none.
inline void LinkFolder(const std::filesystem::path& link, const std::filesystem::path& target) {
    OnLinux(L"import os, sys; os.symlink(sys.argv[1], sys.argv[2])", {target, link}, "can't make a link");
}

// Gives `folder` and everything in it to another account (nobody), as a folder that an earlier run
// as administrator made, or any on exFAT, is to the player; git won't work in it unless told that
// it is safe. Only root can, as CI runs.
inline void GiveAway(const std::filesystem::path& folder) {
    OnLinux(L"import os, sys; [os.lchown(os.path.join(r, n), 65534, 65534) for r, ds, fs in os.walk(sys.argv[1]) "
            L"for n in ds + fs]; os.lchown(sys.argv[1], 65534, 65534)",
            {folder}, "can't give the folder away (not root?)");
}

}  // namespace testing_support
