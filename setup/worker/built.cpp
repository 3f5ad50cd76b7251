#include "worker/built.h"

#include "base/refname.h"
#include "base/text.h"
#include "maintenance/layout.h"
#include "report.h"
#include "win/convert.h"
#include "worker/releases.h"
#include "worker/removal.h"

#include <windows.h>

#include <fstream>

namespace fs = std::filesystem;

namespace setup {
namespace {

// The commit that HEAD names, from git's files, as git would read them without a network; "" when
// they say none.
std::string HeadCommit(const fs::path& repo) {
    const fs::path git = layout::RepoMarker(repo);
    const Head head = ParseHead(FileText(git / "HEAD"));
    if (head.branch.empty()) return head.commit;
    const std::string ref = "refs/heads/" + head.branch;
    const Head loose = ParseHead(FileText(git / ref));  // a ref file holds a bare commit, as a detached HEAD
    return loose.commit.empty() ? PackedCommit(FileText(git / "packed-refs"), ref) : loose.commit;
}

// Why the lookup came to nothing, as one line.
void Unknown(const std::wstring& why) { Log(L"(couldn't find out whether there is anything new to build: " + why + L")"); }

}  // namespace

void ForgetBuilt(const fs::path& repo) { Remove(layout::BuiltRecord(repo)); }

void RecordBuilt(const fs::path& repo) {
    const std::string commit = HeadCommit(repo);
    if (!commit.empty()) std::ofstream(layout::BuiltRecord(repo), std::ios::binary) << commit << '\n';
}

bool UpToDate(const fs::path& repo) {
    const std::string built = ParseHead(FileText(layout::BuiltRecord(repo))).commit;  // a bare commit, as in HEAD
    if (built.empty() || !layout::Exists(layout::Launcher(repo))) return false;

    // A detached clone is moved to the latest release; one on a branch follows it.
    const Head head = ParseHead(FileText(layout::RepoMarker(repo) / "HEAD"));
    const std::wstring branch = win::Widen(head.branch);
    const std::wstring ref = branch.empty() ? ReleaseTag() : branch;
    if (!IsPlainRefName(ref)) {
        Unknown(branch.empty() ? L"the latest release isn't known" : L"the branch's name can't be asked for");
        return false;
    }
    std::wstring why;
    const std::string newest = NewestCommit(ref, why);
    if (newest.empty()) {
        Unknown(why);
        return false;
    }
    if (newest != built) return false;
    const std::wstring question = std::wstring(L"Quorin Recompiled is up to date (") +
                                  (branch.empty() ? L"release " : L"branch ") + ref +
                                  L"), and it's built. Rebuild it anyway?";
    return AskFromWorker(question, MB_YESNO | MB_ICONQUESTION) == IDNO;
}

}  // namespace setup
