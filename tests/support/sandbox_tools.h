// The build tools as the sandbox serves them, in the order the setup takes them, and the lines
// that the setup logs for a tool it fetches. Each is named by the program's own table.
#pragma once

#include "support/sandbox.h"
#include "win/convert.h"
#include "worker/phases/tools.h"
#include "worker/services.h"

#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// A tool of the program's table (tools.h), as the sandbox serves it.
struct SandboxTool {
    const wchar_t* name;     // the display name: Git, CMake...
    const wchar_t* exe;      // the program: git.exe...
    std::wstring url;        // its archive
    const wchar_t* program;  // where the archive holds the program
};

// Where the sandbox serves each tool of the program's table, in its order: the release's tag and
// file on its GitHub (nullptr: Python's package on its NuGet), and where the archive holds the
// program.
struct Served {
    const wchar_t* release;
    const wchar_t* program;
};
inline constexpr Served kServed[] = {
    {L"v2.45.1.windows.1/MinGit-2.45.1-64-bit.zip", L"cmd\\git.exe"},
    {L"v3.29.3/cmake-3.29.3-windows-x86_64.zip", L"cmake-3.29.3-windows-x86_64\\bin\\cmake.exe"},
    {L"v1.12.1/ninja-win.zip", L"ninja.exe"},
    {L"20240518/llvm-mingw-20240518-ucrt-x86_64.zip", L"llvm-mingw-20240518-ucrt-x86_64\\bin\\clang++.exe"},
    {nullptr, L"tools\\python.exe"},
};
// One for each tool, in step with the table: from GitHub for a tool whose release is there, and
// holding the program that the table names.
constexpr bool ServedAsTheProgramTakesThem() {
    if (std::size(kServed) != std::size(setup::kBuildTools)) return false;
    for (std::size_t i = 0; i < std::size(kServed); ++i) {
        const setup::BuildTool& tool = setup::kBuildTools[i];
        if (!kServed[i].release != !tool.repository || !std::wstring_view(kServed[i].program).ends_with(tool.program))
            return false;
    }
    return true;
}
static_assert(ServedAsTheProgramTakesThem());

inline std::vector<SandboxTool> SandboxTools() {
    std::vector<SandboxTool> tools;
    for (std::size_t i = 0; i < std::size(kServed); ++i) {
        const setup::BuildTool& tool = setup::kBuildTools[i];
        const std::wstring url =
            tool.repository ? std::wstring(setup::kGitHubApi) + L"/" + setup::win::Widen(tool.repository) +
                                  L"/releases/download/" + kServed[i].release
                            : std::wstring(setup::kNuGetBase) + L"/v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg";
        tools.push_back({tool.name, tool.program, url, kServed[i].program});
    }
    return tools;
}
inline const std::vector<SandboxTool> kSandboxTools = SandboxTools();

// The tool of that display name (Git, CMake...).
inline const SandboxTool& SandboxToolNamed(const std::wstring& name) {
    for (const SandboxTool& tool : kSandboxTools)
        if (tool.name == name) return tool;
    throw std::invalid_argument("no sandbox tool of that name");
}

// The project's clone address, as the test build has it.
inline std::wstring RepoUrl() { return setup::win::Widen(setup::kRepoUrl); }

inline std::filesystem::path SystemFolder() {
    wchar_t folder[MAX_PATH];
    return std::wstring(folder, GetSystemDirectoryW(folder, MAX_PATH));
}

// A PATH of Wine's system folders only: C:\windows\system32;C:\windows.
inline std::wstring SystemPath() { return SystemFolder().wstring() + L";" + SystemFolder().parent_path().wstring(); }

// Where a tool is unpacked in the install folder `dir`, its archive, and its program.
inline std::filesystem::path ToolFolder(const std::filesystem::path& dir, const SandboxTool& tool) {
    return dir / L"tools" / tool.name;
}
inline std::filesystem::path Archive(const std::filesystem::path& dir, const SandboxTool& tool) {
    return dir / L"tools" / (std::wstring(tool.name) + L".zip");
}
inline std::filesystem::path Unpacked(const std::filesystem::path& dir, const SandboxTool& tool) {
    return ToolFolder(dir, tool) / tool.program;
}

// The archive as the service keeps it under the sandbox's www folder (one package answers for
// every Python version). Its size is the stand-in's, and so changes with the compiler.
inline std::filesystem::path ServedArchive(const SandboxTool& tool) {
    if (tool.url.ends_with(L".nupkg")) return SandboxPath(L"www\\v3-flatcontainer\\python\\python.nupkg");
    const std::wstring::size_type path = tool.url.find(L'/', tool.url.find(L"//") + 2);
    return std::filesystem::path(SandboxPath(L"www")) / tool.url.substr(path + 1);
}

// What the setup logs for a tool that it fetches: downloading, the archive checked against the
// SHA-256 that the sandbox's GitHub gives (NuGet gives none), unpacking, tar's command line (into
// a folder beside the tool's, renamed into place once whole) and the program found; the first
// `count` of them when it fails on the way.
inline std::vector<std::wstring> FetchLines(const std::filesystem::path& dir, const SandboxTool& tool, int count = 5) {
    const std::wstring name = tool.name;
    const bool github = !tool.url.ends_with(L".nupkg");
    std::vector<std::wstring> lines = {
        name + L": downloading " + tool.url,
        name + (github ? L": SHA-256 verified" : L": unverified (no SHA-256 was given for it)"),
        L"== Unpacking " + name,
        L"$ " + Quote(SystemFolder() / L"tar.exe") + L" -xf " + Quote(Archive(dir, tool)) + L" -C " +
            Quote(ToolFolder(dir, tool).wstring() + L".unpacking"),
        name + L": " + Unpacked(dir, tool).wstring()};
    lines.resize(count);
    return lines;
}

}  // namespace testing_support
