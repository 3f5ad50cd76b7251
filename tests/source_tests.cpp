// The source step against the sandbox's repository, with real git through the bridge: a fresh
// clone and a cancelled one, the refusal of a folder in the way, and an existing clone in each
// state that decides what is built. The exact command lines are read back from the log.
#include "base/text.h"
#include "maintenance/layout.h"
#include "support/messages.h"
#include "support/phases.h"
#include "support/shortcut.h"
#include "win/files.h"
#include "worker/built.h"
#include "worker/phases/source.h"

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using namespace testing_support;
using setup::Quote;

namespace {

using Lines = std::vector<std::wstring>;

const wchar_t* const kOnMain = L"The source folder is on branch main: updating that branch.";
// The test build's own version is 1.0.0, a release of the sandbox's project.
const wchar_t* const kFallback = L"v1.0.0";
// No release from the API: a 404 (a 5xx would be tried four times over some seconds).
const char* const kApiDown = R"({"path": "/repos/.*", "status": 404})";
const char* const kGitDown = R"({"path": "/git/.*", "status": 500})";

// A JSON string holding `text`.
std::string Json(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) json += c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\t' ? "\\t" : std::string(1, c);
    return json + "\"";
}

class Source : public SandboxPhase {
protected:
    // Runs the source step; gives the program's own lines of the log.
    Lines Update() {
        setup::GetSource(dir_, repo_);
        return Story({L"The source folder ", L"Building release ", L"(couldn't "});
    }

    std::wstring Command(const std::wstring& arguments) const {
        return L"$ git -C " + Quote(repo_) + L" " + arguments;
    }

    // What every update starts with: the fetch and the two queries.
    Lines Updating(const Lines& then) const {
        Lines lines = {L"== Updating the source code", Command(L"fetch --progress --tags --force origin"),
                       Command(L"symbolic-ref -q --short HEAD"),
                       Command(L"status --porcelain --untracked-files=no --ignore-submodules=all")};
        lines.insert(lines.end(), then.begin(), then.end());
        return lines;
    }

    // A clone detached at `tag`.
    void Detached(const std::wstring& tag) {
        Clone(repo_);
        Git(repo_, L"checkout -q --detach " + tag);
    }

    std::string Version() const { return FileText((repo_ / "VERSION").wstring()); }
    void SetVersion(const std::string& text) const { std::ofstream(repo_ / "VERSION", std::ios::binary) << text; }

    fs::path dir_ = scratch_.Folder(L"Quorin \u00c9dition");
    fs::path repo_ = dir_ / "quorin-recomp";
};

TEST_F(Source, AFreshCloneFollowsItsDefaultBranch) {
    Lines expected = Updating({kOnMain, Command(L"pull --ff-only")});
    expected[0] = L"$ git clone --progress " + RepoUrl() + L" " + Quote(repo_);
    expected.insert(expected.begin(), L"== Downloading the source code");
    EXPECT_EQ(Update(), expected);
    EXPECT_EQ(Version(), "1.2.0-dev\n");
    const std::string requests = Requests();
    EXPECT_EQ(requests.substr(0, requests.find('\n')), "GET /repos/quorin-recomp/quorin-recomp/releases/latest 200")
        << "the release is looked up first, whatever the folder holds";
}

TEST_F(Source, AnEmptyFolderIsClonedInto) {
    fs::create_directory(repo_);
    const Lines story = Update();
    ASSERT_GE(story.size(), 2u);
    EXPECT_EQ(story[1], L"$ git clone --progress " + RepoUrl() + L" " + Quote(repo_));
    EXPECT_EQ(story.back(), Command(L"pull --ff-only"));
    EXPECT_EQ(Version(), "1.2.0-dev\n");
}

TEST_F(Source, AnythingElseInTheWayIsRefusedWithItsFullPath) {
    fs::create_directory(repo_);
    std::ofstream(repo_ / "notes.txt") << "mine";
    const std::wstring refused = L" already exists and isn't a copy of the project. Choose another folder.";
    EXPECT_EQ(FailureOf([&] { Update(); }), repo_.wstring() + refused);
    EXPECT_EQ(Story({}), (Lines{L"== Downloading the source code"})) << "no git command";
    EXPECT_EQ(FileText((repo_ / "notes.txt").wstring()), "mine");

    fs::remove_all(repo_);
    std::ofstream(repo_) << "a file of that name";
    EXPECT_EQ(FailureOf([&] { Update(); }), repo_.wstring() + refused);
}

TEST_F(Source, ADetachedCloneMovesToTheNewestRelease) {
    Detached(L"v1.0.0");
    EXPECT_EQ(Update(), Updating({Command(L"checkout --force v1.1.0"), L"Building release v1.1.0."}));
    EXPECT_EQ(Version(), "1.1.0\n");
}

TEST_F(Source, WithoutTheApiTheSetupsOwnVersionIsTheRelease) {
    SetFaults(std::string(R"({"answers": [)") + kApiDown + "]}");
    Detached(L"v1.1.0");
    EXPECT_EQ(Update(), Updating({Command(L"checkout --force v1.0.0"), L"Building release v1.0.0."}));
    EXPECT_EQ(Version(), "1.0.0\n");
    EXPECT_NE(Requests().find("/releases/latest 404"), std::string::npos) << Requests();
}

TEST_F(Source, WithoutThatReleaseTheCloneMovesToMain) {
    Detached(L"v1.1.0");
    Git(repo_, L"tag -d v1.0.0");  // as if it had never been there: the fetch doesn't bring it back
    SetFaults(std::string(R"({"repository": "without-v1.0.0", "answers": [)") + kApiDown + "]}");
    const Lines toMain = {Command(L"checkout --force v1.0.0"), Command(L"checkout --force main"),
                          Command(L"pull --ff-only")};
    EXPECT_EQ(Update(), Updating(toMain));
    EXPECT_EQ(Version(), "1.2.0-dev\n");

    // With no network the pull fails too.
    SetFaults(std::string(R"({"repository": "without-v1.0.0", "answers": [)") + kApiDown + ", " + kGitDown + "]}");
    Git(repo_, L"checkout -q --detach v1.1.0");
    Lines failedPull = toMain;
    failedPull.push_back(L"(couldn't update - building the code as it is)");
    EXPECT_EQ(Update(), Updating(failedPull));

    // And with no main to go to, nothing is pulled.
    Git(repo_, L"checkout -q --detach v1.1.0");
    Git(repo_, L"branch -q -D main");
    Git(repo_, L"update-ref -d refs/remotes/origin/main");
    EXPECT_EQ(Update(), Updating({Command(L"checkout --force v1.0.0"), Command(L"checkout --force main"),
                                  L"(couldn't update - building the code as it is)"}));
    EXPECT_EQ(Version(), "1.1.0\n");
}

TEST_F(Source, ChangesOfTheUsersOwnAreNeverUpdated) {
    Detached(L"v1.0.0");
    SetVersion("mine\n");
    EXPECT_EQ(Update(), Updating({kChanges})) << "no checkout, no pull";
    EXPECT_EQ(Version(), "mine\n");

    // A file git doesn't track isn't a change: the branch is updated, and the file stays.
    Git(repo_, L"checkout -q --force main");
    std::ofstream(repo_ / "notes.txt") << "mine";
    EXPECT_EQ(Update(), Updating({kOnMain, Command(L"pull --ff-only")}));
    EXPECT_EQ(FileText((repo_ / "notes.txt").wstring()), "mine");
}

TEST_F(Source, ADivergedBranchIsBuiltAsItIs) {
    Clone(repo_);
    Git(repo_, L"reset -q --hard v1.1.0");
    SetVersion("1.1.0-mine\n");
    Git(repo_, L"commit -qam \"a change of my own\"");
    EXPECT_EQ(Update(), Updating({kOnMain, Command(L"pull --ff-only"),
                                  L"(couldn't update the branch - building the code as it is)"}));
    EXPECT_EQ(Version(), "1.1.0-mine\n");
}

TEST_F(Source, AnEmptyGitFolderCountsAsChanges) {
    fs::create_directories(repo_ / ".git");
    std::ofstream(repo_ / "VERSION", std::ios::binary) << "whatever is there\n";
    EXPECT_EQ(Update(), Updating({kChanges}));
    EXPECT_EQ(Version(), "whatever is there\n");
}

// A cancel during the clone kills git with all it started.
TEST_F(Source, ACancelStopsTheCloneAndAllItRan) {
    SetFaults(R"({"answers": [{"path": "/git/.*", "rate": 4000}]})");
    EXPECT_EQ(CancelAt(L"$ git clone ", [&] { setup::GetSource(dir_, repo_); }).first, L"Cancelled.");
}

TEST_F(Source, AFailedCloneEndsTheRun) {
    SetFaults(std::string(R"({"answers": [)") + kGitDown + "]}");
    EXPECT_EQ(FailureOf([&] { Update(); }), L"Couldn't download the source code from GitHub.");
    EXPECT_EQ(Story({}),
              (Lines{L"== Downloading the source code", L"$ git clone --progress " + RepoUrl() + L" " + Quote(repo_)}));
}

// The mark of a clone that didn't finish decides over what only git could have made: a folder
// that a build has used is never deleted for it, whatever else the folder holds.
TEST_F(Source, AMarkOfAnUnfinishedCloneNeverCostsABuiltInstall) {
    const fs::path mark = setup::layout::CloneMark(repo_);
    const std::wstring again = L"(the last download of the source code didn't finish: downloading it again)",
                       kept = L"(quorin-recomp.cloning says the source code's download didn't finish, but the folder "
                              L"holds a build: keeping it)";
    struct Row {
        const char* what;
        bool git;               // the clone's .git is there
        const char* file;       // a file in the folder
        bool kept;              // the folder stays, and is updated
    };
    for (const Row& row : {Row{"a finished install", true, "build/runtime/QuorinLauncher.exe", true},
                           Row{"an extracted game", true, "game/extracted/default.xex", true},
                           Row{"a clone cut short", true, "half.txt", false},
                           Row{"a removal that stopped half way", false, "half.txt", false}}) {
        SCOPED_TRACE(row.what);
        setup::win::RemoveTree(repo_);  // git's files are read-only
        if (row.git) Clone(repo_);
        scratch_.File(repo_ / row.file, 10);
        std::ofstream{mark};
        window_.Take();
        setup::GetSource(dir_, repo_);
        const Lines story = Story({L"("});
        EXPECT_EQ(std::count(story.begin(), story.end(), row.kept ? kept : again), 1);
        EXPECT_EQ(story[0], row.kept ? kept : L"== Downloading the source code");
        EXPECT_EQ(fs::exists(repo_ / row.file), row.kept);
        EXPECT_FALSE(fs::exists(mark));
        EXPECT_EQ(Version(), "1.2.0-dev\n");
    }

    // What can't be deleted of a folder that Setup made ends the run with what to do.
    setup::win::RemoveTree(repo_ / ".git");
    std::ofstream{mark};
    const setup::win::FileHandle held = Hold(repo_ / "VERSION");
    EXPECT_EQ(FailureOf([&] { Update(); }), repo_.wstring() + L" holds a download of the source code that didn't "
                                                              L"finish and couldn't be deleted. Close the programs "
                                                              L"that use it and try again.");
    EXPECT_TRUE(fs::exists(repo_ / "VERSION"));
}

// An update asks GitHub for the commit it would build: the newest of the branch that the clone
// follows, or the latest release's. Anything but the commit built last goes on without a word;
// a lookup that fails says why in one line.
TEST_F(Source, AnUpdateAsksGitHubForTheCommitItWouldBuild) {
    Detached(L"v1.0.0");
    scratch_.File(setup::layout::Launcher(repo_), 10);
    const std::string head = RunProgram(L"git -C " + Quote(repo_) + L" rev-parse HEAD").output;
    std::ofstream(setup::layout::BuiltRecord(repo_)) << head;
    ClearRequests();
    EXPECT_FALSE(setup::UpToDate(repo_));
    EXPECT_EQ(window_.LogLines(), Lines{});
    EXPECT_EQ(Requests(), "GET /repos/quorin-recomp/quorin-recomp/releases/latest 200\n"
                          "GET /repos/quorin-recomp/quorin-recomp/commits/v1.1.0 200\n");

    Git(repo_, L"checkout -q -b mine");  // a branch that GitHub doesn't have
    EXPECT_FALSE(setup::UpToDate(repo_));
    EXPECT_EQ(window_.LogLines(),
              Lines{L"(couldn't find out whether there is anything new to build: HTTP status 422)"});
}

// Whatever the API's tag holds must not reach git's command line as options or extra arguments.
TEST_F(Source, ATagThatIsNoPlainRefNameGivesWayToTheFallback) {
    const auto answer = [](const std::string& tag) {
        const std::string body = "{\"tag_name\": \"" + tag + "\", \"name\": \"Quorin Recompiled\"}";
        SetFaults(R"({"answers": [{"path": "/repos/quorin-recomp/quorin-recomp/releases/latest", "body": )" + Json(body) +
                  "}]}");
    };
    answer("v1.1.0");
    EXPECT_EQ(setup::TagToBuild(), L"v1.1.0") << "a plain tag in the same kind of answer";
    for (const char* tag : {"--orphan=x", "-c core.pager=x", "v1 x", "v1\\\"x", "v1'x", "v1\tx", "v1;x", "v1..x"}) {
        answer(tag);
        EXPECT_EQ(setup::TagToBuild(), kFallback) << tag;
    }

    answer("--orphan=x");
    Detached(L"v1.1.0");
    EXPECT_EQ(Update(), Updating({Command(L"checkout --force v1.0.0"), L"Building release v1.0.0."}));
    EXPECT_EQ(Version(), "1.0.0\n");
}

}  // namespace
