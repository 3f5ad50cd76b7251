// The end-to-end sandbox as a Windows test sees it (tests/sandbox/README.md): its folder, its
// fault switches and request log, the bridge's stand-in, and running a program to its end with
// its output. CTest sets QUORIN_SANDBOX and QUORIN_STANDIN for the tests that use the sandbox.
#pragma once

#include "base/text.h"
#include "support/host_path.h"
#include "support/program.h"
#include "win/convert.h"
#include "win/environment.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace testing_support {

// The program's own, as the tests that use the sandbox take them.
using setup::FileText;
using setup::Quote;
using setup::win::Utf8;

// A path inside the sandbox folder, e.g. SandboxPath(L"game.iso").
inline std::wstring SandboxPath(const std::wstring& relative) { return HostPath("QUORIN_SANDBOX") + L"\\" + relative; }

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

// Puts a folder in front of PATH for its lifetime; child processes inherit it.
class PathPrefix {
public:
    explicit PathPrefix(const std::wstring& folder) : old_(setup::win::Variable(L"PATH")) {
        setup::win::SetVariable(L"PATH", folder + L";" + old_);
    }
    ~PathPrefix() { setup::win::SetVariable(L"PATH", old_); }
    PathPrefix(const PathPrefix&) = delete;
    PathPrefix& operator=(const PathPrefix&) = delete;

private:
    std::wstring old_;
};

// Runs Python `code` (no double quotes in it) on the Linux side, through the bridge, with paths as
// its arguments; throws with `what` when it fails.
inline void OnLinux(const std::wstring& code, std::initializer_list<std::filesystem::path> paths, const char* what) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / L"quorin-linux-side";
    std::filesystem::create_directories(folder);
    std::wstring command = Quote(StandIn(folder.wstring(), L"python.exe")) + L" -c \"" + code + L"\"";
    for (const std::filesystem::path& path : paths) command += L" " + Quote(path);
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
