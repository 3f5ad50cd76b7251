#include "tools.h"

#include "find.h"
#include "http.h"
#include "install.h"
#include "network.h"
#include "processes.h"
#include "releases.h"
#include "report.h"
#include "services.h"
#include "text.h"

#include <windows.h>

#include <cwchar>
#include <functional>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace setup {
namespace {

struct Tool {
    const wchar_t* name;     // in messages, and the name of its folder and archive
    const wchar_t* program;  // what must be runnable by name
    std::function<Archive()> provider;  // the archive's URL and SHA-256; asked only when a download is needed
};

const Tool kTools[] = {
    {L"Git", L"git.exe", [] { return LatestAsset("git-for-windows/git", "MinGit-[0-9.]+-64-bit\\.zip"); }},
    {L"CMake", L"cmake.exe", [] { return LatestAsset("Kitware/CMake", "cmake-[0-9.]+-windows-x86_64\\.zip"); }},
    {L"Ninja", L"ninja.exe", [] { return LatestAsset("ninja-build/ninja", "ninja-win\\.zip"); }},
    {L"Clang", L"clang++.exe", [] { return LatestAsset(kLlvmMingwRepo, "llvm-mingw-[0-9]+-ucrt-x86_64\\.zip"); }},
    {L"Python", L"python.exe", [] { return Archive{PythonPackage()}; }},  // NuGet gives no SHA-256 here
};

std::wstring ReadPath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

fs::path SystemFolder() {
    wchar_t folder[MAX_PATH] = L"";
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

// Tar's last words as the end of the sentence that says why an unpack failed.
std::wstring Sentence(const std::string& said, int code) {
    std::wstring words = said.empty() ? L"tar.exe ended with exit code " + std::to_wstring(code) : Widen(said);
    if (!words.ends_with(L'.')) words += L'.';
    return words;
}

// The archive is deleted only once it has been unpacked whole. While it lies beside the tool's
// folder, that folder may hold a program without the rest of its files (an unpack that was
// cancelled or failed half way), so the tool is fetched again.
bool Unpacked(const fs::path& archive) { return !Exists(archive); }

// Downloads and unpacks a tool into its own, emptied folder; the program's path.
fs::path Fetch(const Tool& tool, const fs::path& folder, const fs::path& archive) {
    const std::wstring name = tool.name;
    const Archive source = tool.provider();
    Log(name + L": downloading " + source.url);
    std::error_code ignored;  // a folder that can't be cleared or made fails the unpack below
    fs::remove_all(folder, ignored);
    fs::create_directories(folder, ignored);
    if (!Get(source.url, nullptr, &archive, tool.name, source.sha256)) {
        CheckCancel();
        Fail(L"Couldn't download " + name + L".");
    }
    Log(name + (source.sha256.empty() ? L": unverified (no SHA-256 was given for it)" : L": SHA-256 verified"));
    Status(L"Unpacking " + name);
    PostProgress(-1);
    const fs::path tar = SystemFolder() / L"tar.exe";
    if (!Exists(tar)) Fail(L"Couldn't unpack " + name + L" (Windows 10 1803 or later is needed).");
    std::string said;  // tar's last line, which tells why it failed
    const int code = Run(Quote(tar) + L" -xf " + Quote(archive) + L" -C " + Quote(folder), {},
                         [&](const std::string& line) { said = line; });
    if (code != 0) Fail(L"Couldn't unpack " + name + L": " + Sentence(said, code));
    fs::remove(archive, ignored);
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
    const fs::path folder = tools / name, archive = tools / (name + L".zip");
    fs::path program = Unpacked(archive) ? FindUnder(folder, tool.program) : fs::path();
    if (program.empty()) program = Fetch(tool, folder, archive);
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
    // The git on the PATH is the one that every later step runs.
    const std::wstring git = FindOnPath(ReadPath(), L"git.exe").wstring(), ours = (tools / L"").wstring();
    SetGitNetwork(_wcsnicmp(git.c_str(), ours.c_str(), ours.size()) == 0);
}

}  // namespace setup
