#include "tools.h"

#include "files.h"
#include "find.h"
#include "http.h"
#include "install.h"
#include "processes.h"
#include "releases.h"
#include "report.h"
#include "services.h"
#include "text.h"

#include <windows.h>

#include <functional>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace setup {
namespace {

struct Tool {
    const wchar_t* name;     // in messages, and the name of its folder and archive
    const wchar_t* program;  // what must be runnable by name
    std::function<std::wstring()> provider;  // the archive's URL; asked only when a download is needed
};

const Tool kTools[] = {
    {L"Git", L"git.exe", [] { return LatestAsset("git-for-windows/git", "MinGit-[0-9.]+-64-bit\\.zip"); }},
    {L"CMake", L"cmake.exe", [] { return LatestAsset("Kitware/CMake", "cmake-[0-9.]+-windows-x86_64\\.zip"); }},
    {L"Ninja", L"ninja.exe", [] { return LatestAsset("ninja-build/ninja", "ninja-win\\.zip"); }},
    {L"Clang", L"clang++.exe", [] { return LatestAsset(kLlvmMingwRepo, "llvm-mingw-[0-9]+-ucrt-x86_64\\.zip"); }},
    {L"Python", L"python.exe", PythonPackage},
};

fs::path SystemFolder() {
    wchar_t folder[MAX_PATH] = L"";
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

// Downloads and unpacks a tool into `tools`; the program's path. It is unpacked beside its
// folder and renamed into place whole, so that a tool folder is always a finished unpack: one cut
// short (a cancel, a failure, a PC switched off) is never taken for the tool, and an archive that
// a virus scanner kept from being deleted doesn't send the next run to fetch it again.
fs::path Fetch(const Tool& tool, const fs::path& tools) {
    const std::wstring name = tool.name;
    const fs::path folder = tools / name, archive = tools / (name + L".zip"), unpacking = tools / (name + L".unpacking");
    const std::wstring url = tool.provider();
    Log(name + L": downloading " + url);
    RemoveTree(unpacking);  // what an unpack cut short left; if it stays, the unpack fails below
    std::error_code ignored;
    fs::create_directories(unpacking, ignored);
    if (!Get(url, nullptr, &archive, tool.name)) {
        CheckCancel();
        Fail(L"Couldn't download " + name + L".");
    }
    Status(L"Unpacking " + name);
    PostProgress(-1);
    const std::wstring tar = Quote(SystemFolder() / L"tar.exe") + L" -xf " + Quote(archive) + L" -C " + Quote(unpacking);
    if (Run(tar, {}) != 0) Fail(L"Couldn't unpack " + name + L" (Windows 10 1803 or later is needed).");
    if (!RemoveTree(folder) || !MoveFolder(unpacking, folder))
        Fail(L"Couldn't unpack " + name + L": its folder " + folder.wstring() +
             L" couldn't be replaced. Close the programs that use it and try again.");
    RemoveTree(archive);  // one that stays does no harm
    const fs::path program = FindUnder(folder, tool.program);
    if (program.empty()) Fail(name + L" didn't contain " + tool.program + L".");
    return program;
}

void Prepare(const Tool& tool, const fs::path& tools) {
    CheckCancel();
    const std::wstring name = tool.name;
    const fs::path onPath = FindOnPath(ReadPath(), tool.program);
    if (!onPath.empty()) {
        Log(name + L": using " + onPath.wstring());
        return;
    }
    fs::path program = FindUnder(tools / name, tool.program);
    if (program.empty()) program = Fetch(tool, tools);
    Log(name + L": " + program.wstring());
    SetEnvironmentVariableW(L"PATH", (program.parent_path().wstring() + L";" + ReadPath()).c_str());
}

}  // namespace

void PrepareTools(const fs::path& dir) {
    Status(L"Checking the tools");
    const fs::path tools = dir / "tools";
    std::error_code ignored;  // shows up as a failed download or unpack
    fs::create_directories(tools, ignored);
    for (const Tool& tool : kTools) Prepare(tool, tools);
}

}  // namespace setup
