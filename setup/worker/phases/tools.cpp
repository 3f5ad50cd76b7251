#include "worker/phases/tools.h"

#include "base/find.h"
#include "base/text.h"
#include "maintenance/layout.h"
#include "report.h"
#include "win/convert.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/files.h"
#include "worker/downloads.h"
#include "worker/network.h"
#include "worker/programs.h"
#include "worker/releases.h"
#include "worker/removal.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace setup {
namespace {

// The freeing of space names the tool folders that only Setup makes, and every tool in its label
// in the table's order: what it says must stay what the table holds.
static_assert(std::ranges::count_if(kBuildTools, SetupOnly) == std::ssize(kel::maintenance::kSetupOnlyTools),
              "a tool folder that only Setup makes isn't a tool of the table");
constexpr bool NamedByTheFreeingInOrder() {
    const std::wstring_view label = kel::maintenance::kToolsLabel;
    std::size_t at = 0;
    for (const BuildTool& tool : kBuildTools)
        if ((at = label.find(tool.name, at)) == std::wstring_view::npos) return false;
    return true;
}
static_assert(NamedByTheFreeingInOrder());

// The archive's URL and SHA-256 (NuGet gives none); asked only when a download is needed.
Archive SourceOf(const BuildTool& tool) {
    return tool.repository ? LatestAsset(tool.repository, tool.asset) : Archive{PythonPackage()};
}

fs::path SystemFolder() {
    wchar_t folder[MAX_PATH] = L"";
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

// Tar's words as the end of the sentence that says why an unpack failed.
std::wstring Sentence(const std::string& said, int code) {
    std::wstring words = said.empty() ? L"tar.exe ended with exit code " + std::to_wstring(code) : win::Widen(said);
    if (!words.ends_with(L'.')) words += L'.';
    return words;
}

// The sentence for a tool folder, or the one it is unpacked into, that stays in the way.
[[noreturn]] void FailInTheWay(const std::wstring& name, const fs::path& folder, const std::wstring& why = {}) {
    Fail(L"Couldn't unpack " + name + L": its folder " + folder.wstring() +
             L" couldn't be replaced. Close the programs that use it and try again.",
         why);
}

// Downloads and unpacks a tool into `tools`; the program's path. It is unpacked beside its
// folder and renamed into place whole, so that a tool folder is always a finished unpack: one cut
// short (a cancel, a failure, a PC switched off) is never taken for the tool, and an archive that
// a virus scanner kept from being deleted doesn't send the next run to fetch it again.
fs::path Fetch(const BuildTool& tool, const fs::path& tools) {
    const std::wstring name = tool.name;
    const fs::path folder = layout::ToolFolder(tools, name), archive = layout::ToolArchive(tools, name),
                   unpacking = layout::ToolUnpacking(tools, name);
    const Archive source = SourceOf(tool);
    Log(name + L": downloading " + source.url);
    // What an unpack cut short left: unpacking over it would mix its files into the tool's.
    if (!Remove(unpacking)) FailInTheWay(name, unpacking);
    std::error_code ignored;
    fs::create_directories(unpacking, ignored);
    if (!Get({.url = source.url, .file = &archive, .sha256 = source.sha256, .label = tool.name}))
        Fail(L"Couldn't download " + name + L".");
    Log(name + (source.sha256.empty() ? L": unverified (no SHA-256 was given for it)" : L": SHA-256 verified"));
    Status(L"Unpacking " + name);
    PostProgress(-1);
    const fs::path tar = SystemFolder() / L"tar.exe";
    if (!layout::Exists(tar)) Fail(L"Couldn't unpack " + name + L" (Windows 10 1803 or later is needed).");
    std::string said;  // tar's last word on what went wrong, not the summary it ends with
    const int code = Run(Quote(tar) + L" -xf " + Quote(archive) + L" -C " + Quote(unpacking), {},
                         [&](const std::string& line) {
                             if (!line.ends_with("Error exit delayed from previous errors.")) said = line;
                         });
    if (code != 0) Fail(L"Couldn't unpack " + name + L": " + Sentence(said, code));
    if (!Remove(folder)) FailInTheWay(name, folder);
    if (!win::MoveFolder(unpacking, folder)) FailInTheWay(name, folder, win::LastErrorText());
    Remove(archive);  // one that stays does no harm
    const fs::path program = FindUnder(folder, tool.program);
    if (program.empty()) Fail(name + L" didn't contain " + tool.program + L".");
    return program;
}

void Prepare(const BuildTool& tool, const fs::path& tools) {
    CheckCancel();
    const std::wstring name = tool.name;
    const fs::path onPath = FindOnPath(win::Variable(L"PATH"), tool.program);
    if (!onPath.empty()) {
        Log(name + L": using " + onPath.wstring());
        return;
    }
    fs::path program = FindUnder(layout::ToolFolder(tools, name), tool.program);
    if (program.empty()) program = Fetch(tool, tools);
    Log(name + L": " + program.wstring());
    win::SetVariable(L"PATH", program.parent_path().wstring() + L";" + win::Variable(L"PATH"));
}

}  // namespace

void PrepareTools(const fs::path& dir) {
    Status(L"Checking the tools");
    const fs::path tools = layout::ToolsFolder(dir);
    std::error_code ignored;  // shows up as a failed download or unpack
    fs::create_directories(tools, ignored);
    for (const BuildTool& tool : kBuildTools) Prepare(tool, tools);
    // The git on the PATH is the one that every later step runs.
    const std::wstring git = FindOnPath(win::Variable(L"PATH"), L"git.exe").wstring(), ours = (tools / L"").wstring();
    SetGitNetwork(_wcsnicmp(git.c_str(), ours.c_str(), ours.size()) == 0, layout::RepoFolder(dir));
}

}  // namespace setup
