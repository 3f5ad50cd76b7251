#include "source.h"

#include "files.h"
#include "install.h"
#include "processes.h"
#include "refname.h"
#include "releases.h"
#include "report.h"
#include "services.h"
#include "text.h"

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

// Beside the repository folder from the start of a clone until it succeeded: what a clone cut
// short left (by Task Manager, a crash or a power cut, which no clean-up sees) is known as such.
fs::path CloneMark(const fs::path& repo) { return repo.parent_path() / (repo.filename().wstring() + L".cloning"); }

void Clone(const fs::path& dir, const fs::path& repo) {
    Status(L"Downloading the source code");
    const fs::path mark = CloneMark(repo);
    // Only a folder that git began: one without its .git, or with files of the user's, stays.
    if (Exists(mark)) {
        Log(L"(the last download of the source code didn't finish: downloading it again)");
        if (Exists(repo / ".git") && !RemoveTree(repo))
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
        if (RemoveTree(repo)) RemoveTree(mark);
    };
    int code = 1;
    try {
        code = Run(L"git clone " + Widen(kRepoUrl) + L" " + Quote(repo), dir);
    } catch (const Failed&) {
        discard();
        throw;
    }
    if (code != 0) {
        discard();
        Fail(L"Couldn't download the source code from GitHub.");
    }
    RemoveTree(mark);
}

// Runs "git -C <repo> <arguments>" in the install folder; true on exit code 0.
bool Git(const fs::path& dir, const fs::path& repo, const std::wstring& arguments) {
    return Run(L"git -C " + Quote(repo) + L" " + arguments, dir) == 0;
}

}  // namespace

std::wstring TagToBuild() {
    const std::wstring tag = ReleaseTag();
    if (IsPlainRefName(tag)) return tag;
    const std::string version = kVersion;
    return L"v" + Widen(version.substr(0, version.find(' ')));
}

void GetSource(const fs::path& dir, const fs::path& repo) {
    const std::wstring tag = TagToBuild();  // looked up whatever the folder holds
    if (Exists(repo / ".git") && !Exists(CloneMark(repo)))
        Status(L"Updating the source code");
    else
        Clone(dir, repo);

    Git(dir, repo, L"fetch --tags --force origin");  // without a network, what is there is built
    std::string branch, changes;
    const bool onBranch = GitOutput(repo, L"symbolic-ref -q --short HEAD", branch) && !branch.empty();
    // A repository that git can't read answers with an error line, which counts as changes too.
    GitOutput(repo, L"status --porcelain --untracked-files=no --ignore-submodules=all", changes);

    if (!changes.empty()) {
        Log(L"The source folder has changes of its own: building it as it is (no update).");
    } else if (onBranch) {
        Log(L"The source folder is on branch " + Widen(branch) + L": updating that branch.");
        if (!Git(dir, repo, L"pull --ff-only")) Log(L"(couldn't update the branch - building the code as it is)");
    } else if (Git(dir, repo, L"checkout --force " + tag)) {
        Log(L"Building release " + tag + L".");
    } else if (!Git(dir, repo, L"checkout --force main") || !Git(dir, repo, L"pull --ff-only")) {
        Log(L"(couldn't update - building the code as it is)");
    }
}

}  // namespace setup
