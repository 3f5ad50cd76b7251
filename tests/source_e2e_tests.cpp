// The source checkout end to end, on clones put into each state with real git: what is built,
// what setup.log tells of it, and how the run ends. The choices of each state are tested in
// process (source_tests.cpp); here the whole run follows: the build, the final box, the log.
#include "support/install_e2e.h"
#include "support/sandbox.h"
#include "support/scratch.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// No release from the API: a 404 (a 5xx would be tried four times over some seconds).
const char* const kApiDown = R"({"path": "/repos/.*", "status": 404})";

// A whole run from the given source step: the build and its success.
Story Success(const Story& source) { return source + Built(L"") + Story{kDone + kOnDesktop}; }

std::string Version(const Install& install) { return FileText((install.repo / L"VERSION").wstring()); }
void SetVersion(const Install& install, const char* text) {
    std::ofstream(install.repo / L"VERSION", std::ios::binary) << text;
}

// An installed folder whose clone is detached at `tag`.
std::function<void(Install&)> DetachedAt(const wchar_t* tag) {
    return [tag](Install& install) {
        Installed(install);
        Git(install, L"checkout -q --detach " + std::wstring(tag));
    };
}

// An update that checks out `tag` and builds it.
Story ToRelease(const Install& install, const std::wstring& tag) {
    return Success(Updated(install, {GitLine(install, L"checkout --force " + tag), L"Building release " + tag + L"."}));
}

// Checks that the folder was built from that version of the project.
std::function<void(Install&, const Outcome&)> Builds(const char* version) {
    return [version](Install& install, const Outcome&) { EXPECT_EQ(Version(install), version); };
}

const Scenario kScenarios[] = {
    {"ADetachedCloneMovesToTheNewestRelease",
     L"Detached",
     {{.before = DetachedAt(L"v1.0.0"),
       .story = [](const Install& i) { return ToRelease(i, L"v1.1.0"); },
       .more = Builds("1.1.0\n")}}},
    {"WithoutTheApiTheOwnVersionIsBuiltAndWithoutThatTagMain",
     L"No API",
     {{.before = DetachedAt(L"v1.1.0"),
       .faults = std::string(R"({"answers": [)") + kApiDown + "]}",
       .story = [](const Install& i) { return ToRelease(i, L"v1.0.0"); },
       .more = Builds("1.0.0\n")},
      // Still detached, at v1.0.0, whose tag is gone here and on the server.
      {.before = [](Install& i) { Git(i, L"tag -d v1.0.0"); },
       .lookup = {L"(couldn't find out whether there is anything new to build: the latest release isn't known)"},
       .faults = std::string(R"({"repository": "without-v1.0.0", "answers": [)") + kApiDown + "]}",
       .story =
           [](const Install& i) {
               return Success(Updated(i, {GitLine(i, L"checkout --force v1.0.0"), GitLine(i, L"checkout --force main"),
                                          GitLine(i, L"pull --ff-only")}));
           },
       .more = Builds("1.2.0-dev\n")}}},
    {"AnUntrackedFileIsNoChangeButAnEditedOneIs",
     L"Changes",
     {{.before =
           [](Install& i) {
               Installed(i);
               std::ofstream(i.repo / L"notes.txt") << "mine";
           },
       .story = [](const Install& i) { return Success(Pulled(i)); },
       .more = [](Install& i, const Outcome&) { EXPECT_EQ(FileText((i.repo / L"notes.txt").wstring()), "mine"); }},
      // An edit of the player's is no news to GitHub: the player says Yes to build it.
      {.before = [](Install& i) { SetVersion(i, "mine\n"); },
       .asked = {{NothingNew, IDYES}},
       .story = [](const Install& i) { return Success(Updated(i, {kChanges})); },
       .more = Builds("mine\n")}}},
    {"ADivergedBranchIsBuiltAsItIs",
     L"Diverged",
     {{.before =
           [](Install& i) {
               Installed(i);
               Git(i, L"reset -q --hard v1.1.0");
               SetVersion(i, "1.1.0-mine\n");
               Git(i, L"commit -qam \"a change of my own\"");
           },
       .story =
           [](const Install& i) {
               const std::wstring notPulled = L"(couldn't update the branch - building the code as it is)";
               return Success(Updated(i, OnBranch(i) + Story{notPulled}));
           },
       .more = Builds("1.1.0-mine\n")}}},
    {"AnEmptyGitFolderCountsAsChanges",
     L"Empty git",
     {{.before =
           [](Install& i) {
               Installed(i);
               MakeWritable(i.repo / L".git");
               fs::remove_all(i.repo / L".git");
               fs::create_directory(i.repo / L".git");
           },
       .story = [](const Install& i) { return Success(Updated(i, {kChanges})); },
       .more = Builds("1.2.0-dev\n")}}},
    {"AForeignFolderIsRefusedWithItsFullPath",
     L"Foreign",
     {{.before = Foreign,
       .story = Refused,
       .more = [](Install& i, const Outcome&) { EXPECT_EQ(FileText((i.repo / L"notes.txt").wstring()), "mine"); }}}},
    {"AFailedClone",
     L"No clone",
     {{.faults = R"({"answers": [{"path": "/git/.*", "status": 500}]})",
       .story =
           [](const Install& i) {
               return Until(Cloned(i, {}), L"$ git clone ") + Story{L"Couldn't download the source code from GitHub."};
           },
       .more = [](Install& i, const Outcome&) { EXPECT_FALSE(fs::exists(i.repo)) << "nothing is left to update"; }}}},
};

class Sources : public ::testing::TestWithParam<Scenario> {};

TEST_P(Sources, Run) { RunScenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scenarios, Sources, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
