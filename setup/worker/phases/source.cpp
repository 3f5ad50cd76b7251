#include "worker/phases/source.h"

#include "base/progress.h"
#include "base/refname.h"
#include "base/text.h"
#include "maintenance/layout.h"
#include "report.h"
#include "version.h"
#include "win/convert.h"
#include "worker/programs.h"
#include "worker/releases.h"
#include "worker/removal.h"
#include "worker/services.h"

#include <fstream>

namespace fs = std::filesystem;

namespace setup {
namespace {

// Nothing there, an empty folder or an empty file; what can't be read counts as taken.
bool RoomForClone(const fs::path& repo) {
    std::error_code error;
    if (fs::status(repo, error).type() == fs::file_type::not_found) return true;
    return fs::is_empty(repo, error);  // false on an error
}

// Runs git's clone or fetch in the install folder, the bar and the status line following what it
// received, on the phase's own text ("Downloading the source code: 45%"); then the phase has its
// marquee and its bare text back. Its exit code.
int WithProgress(const std::wstring& phase, const std::wstring& command, const fs::path& dir) {
    const int code = Run(command, dir, [&phase](const std::string& line) {
        const auto progress = ParseGitProgress(line);
        if (!progress || progress->stage != "Receiving objects") return;
        PostProgress(progress->percent);
        PostStatus(phase + L": " + std::to_wstring(progress->percent) + L"%");
    });
    PostProgress(-1);
    PostStatus(phase);
    return code;
}

// A mark that outlived its clone (a scanner held it, or the run ended right after git) beside a
// folder that a build has used: no clone that didn't finish holds what only a build makes.
void KeepBuiltClone(const fs::path& repo) {
    const fs::path mark = layout::CloneMark(repo);
    if (!layout::Exists(mark) ||
        !(layout::Exists(layout::ExtractedFolder(repo)) || layout::Exists(layout::BuildFolder(repo))))
        return;
    Log(L"(" + mark.filename().wstring() + L" says the source code's download didn't finish, but the folder holds "
                                          L"a build: keeping it)");
    Remove(mark);
}

void Clone(const fs::path& dir, const fs::path& repo, const std::wstring& phase) {
    const fs::path mark = layout::CloneMark(repo);
    // The folder was empty when the mark was written: all it holds is git's, or what a removal
    // that stopped half way left of it.
    if (layout::Exists(mark)) {
        Log(L"(the last download of the source code didn't finish: downloading it again)");
        if (!Remove(repo))
            Fail(repo.wstring() + L" holds a download of the source code that didn't finish and couldn't be deleted. "
                                  L"Close the programs that use it and try again.");
    }
    if (!RoomForClone(repo))
        Fail(repo.wstring() + L" already exists and isn't a copy of the project. Choose another folder.");
    std::ofstream{mark};
    // A clone that failed or was cancelled may leave a .git that git can't read, which every
    // later run would take for a copy with changes of the user's own, and never build: it goes,
    // and the mark once it has.
    const auto discard = [&] {
        if (Remove(repo)) Remove(mark);
    };
    int code = 1;
    try {
        code = WithProgress(phase, L"git clone --progress " + win::Widen(kRepoUrl) + L" " + Quote(repo), dir);
    } catch (const Failed&) {
        discard();
        throw;
    }
    if (code != 0) {
        discard();
        Fail(L"Couldn't download the source code from GitHub.");
    }
    // One that stays is told from a clone cut short by what the build adds.
    Remove(mark);
}

}  // namespace

bool Git(const fs::path& dir, const fs::path& repo, const std::wstring& arguments) {
    return Run(L"git -C " + Quote(repo) + L" " + arguments, dir) == 0;
}

bool GitOutput(const fs::path& repo, const std::wstring& arguments, std::string& output) {
    output.clear();
    const auto keepFirst = [&](const std::string& line) {
        if (output.empty()) output = line;
    };
    return Run(L"git -C " + Quote(repo) + L" " + arguments, repo, keepFirst) == 0;
}

std::wstring TagToBuild() {
    const std::wstring tag = ReleaseTag();
    if (IsPlainRefName(tag)) return tag;
    const std::string version = kVersion;
    return L"v" + win::Widen(version.substr(0, version.find(' ')));
}

void GetSource(const fs::path& dir, const fs::path& repo) {
    const std::wstring tag = TagToBuild();  // looked up whatever the folder holds
    KeepBuiltClone(repo);
    const bool cloned = layout::Exists(layout::RepoMarker(repo)) && !layout::Exists(layout::CloneMark(repo));
    const std::wstring phase = cloned ? L"Updating the source code" : L"Downloading the source code";
    Status(phase);
    if (!cloned) Clone(dir, repo, phase);

    // Without a network, what is there is built.
    WithProgress(phase, L"git -C " + Quote(repo) + L" fetch --progress --tags --force origin", dir);
    std::string branch, changes;
    const bool onBranch = GitOutput(repo, L"symbolic-ref -q --short HEAD", branch) && !branch.empty();
    // A repository that git can't read answers with an error line, which counts as changes too.
    GitOutput(repo, L"status --porcelain --untracked-files=no --ignore-submodules=all", changes);

    if (!changes.empty()) {
        Log(L"The source folder has changes of its own: building it as it is (no update).");
    } else if (onBranch) {
        Log(L"The source folder is on branch " + win::Widen(branch) + L": updating that branch.");
        if (!Git(dir, repo, L"pull --ff-only")) Log(L"(couldn't update the branch - building the code as it is)");
    } else if (Git(dir, repo, L"checkout --force " + tag)) {
        Log(L"Building release " + tag + L".");
    } else if (!Git(dir, repo, L"checkout --force main") || !Git(dir, repo, L"pull --ff-only")) {
        Log(L"(couldn't update - building the code as it is)");
    }
}

}  // namespace setup
