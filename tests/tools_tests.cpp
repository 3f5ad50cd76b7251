// The build-tools phase in the test program against the sandbox: where each tool comes from, what
// goes on the PATH and in what order, what is logged, and what a later run finds.
#include "globals.h"
#include "report.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "tools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const SandboxTool& kGit = kSandboxTools[0];
const SandboxTool& kNinja = kSandboxTools[2];
const SandboxTool& kPython = kSandboxTools[4];

class ToolsPhase : public ::testing::Test {
protected:
    void SetUp() override {
        setup::s_cancel = false;
        SetFaults("");
        ClearRequests();
        SetEnvironmentVariableW(L"PATH", system_.c_str());
    }
    void TearDown() override {
        SetFaults("");
        SetEnvironmentVariableW(L"PATH", original_.c_str());
    }

    // Runs the phase; its failure message, or "" when it went through.
    std::wstring Prepare() {
        return testing_support::FailureOf([&] { setup::PrepareTools(dir_); });
    }

    const std::wstring original_ = CurrentPath();
    const std::wstring system_ = SystemPath();
    Scratch scratch_;
    const fs::path dir_ = scratch_.root() / L"Quorin \u00c9dition";
    TestWindow window_;
};

TEST_F(ToolsPhase, FetchesEveryToolOnceAndPutsItsFolderOnThePath) {
    ASSERT_EQ(Prepare(), L"");

    std::vector<std::wstring> expected = {L"== Checking the tools"}, expectedStatuses = {L"Checking the tools"};
    std::wstring path = system_;
    for (const SandboxTool& tool : kSandboxTools) {
        for (std::wstring& line : FetchLines(dir_, tool)) expected.push_back(std::move(line));
        const std::uintmax_t size = fs::file_size(ServedArchive(tool));
        expectedStatuses.push_back(L"Downloading " + std::wstring(tool.name) + L": " +
                                   std::to_wstring(std::lround(static_cast<double>(size) / (1 << 20))) + L" MB of " +
                                   std::to_wstring(size >> 20) + L" MB");
        expectedStatuses.push_back(L"Unpacking " + std::wstring(tool.name));
        path = Unpacked(dir_, tool).parent_path().wstring() + L";" + path;
        EXPECT_FALSE(fs::exists(Archive(dir_, tool))) << "the archive is deleted";
    }
    const std::vector<Posted> posted = window_.Take();
    std::vector<std::wstring> log, statuses;
    for (const Posted& item : posted) {
        if (item.message == setup::kLogLineMessage) log.push_back(item.text);
        // Of a download's progress, the last.
        const bool sameDownload = !statuses.empty() && statuses.back().starts_with(L"Downloading ") &&
                                  item.text.starts_with(statuses.back().substr(0, statuses.back().find(L':')));
        if (item.message == setup::kStatusMessage && sameDownload)
            statuses.back() = item.text;
        else if (item.message == setup::kStatusMessage)
            statuses.push_back(item.text);
    }
    EXPECT_EQ(log, expected);
    EXPECT_EQ(CurrentPath(), path) << "the tool folders in front, in reverse table order";
    EXPECT_EQ(statuses, expectedStatuses) << "the last progress of each download, its whole size";
    EXPECT_EQ(std::count_if(posted.begin(), posted.end(),
                            [](const Posted& item) {
                                return item.message == setup::kProgressMessage && item.value == -1;
                            }),
              5)
        << "the marquee while each unpacks";

    // The next run of the program starts with its own PATH and finds every tool where it left it.
    SetEnvironmentVariableW(L"PATH", system_.c_str());
    ClearRequests();
    ASSERT_EQ(Prepare(), L"");
    expected = {L"== Checking the tools"};
    for (const SandboxTool& tool : kSandboxTools) expected.push_back(FetchLines(dir_, tool).back());
    EXPECT_EQ(window_.LogLines(), expected);
    EXPECT_EQ(CurrentPath(), path);
    EXPECT_EQ(Requests(), "") << "no request at all";
}

TEST_F(ToolsPhase, UsesToolsOnThePathAsTheyAreButNoAppStoreAlias) {
    const fs::path bin = scratch_.Folder(L"bin");
    for (const wchar_t* program : {L"git.exe", L"cmake.exe", L"ninja.exe", L"clang++.exe"})
        scratch_.File(bin / program);
    const fs::path alias = scratch_.File(L"Microsoft\\WindowsApps\\python.exe").parent_path();
    const std::wstring path = L";" + alias.wstring() + L";;" + bin.wstring() + L";" + system_ + L";";
    SetEnvironmentVariableW(L"PATH", path.c_str());

    ASSERT_EQ(Prepare(), L"");
    std::vector<std::wstring> expected = {L"== Checking the tools",
                                          L"Git: using " + (bin / L"git.exe").wstring(),
                                          L"CMake: using " + (bin / L"cmake.exe").wstring(),
                                          L"Ninja: using " + (bin / L"ninja.exe").wstring(),
                                          L"Clang: using " + (bin / L"clang++.exe").wstring()};
    for (std::wstring& line : FetchLines(dir_, kPython)) expected.push_back(std::move(line));
    EXPECT_EQ(window_.LogLines(), expected);
    EXPECT_EQ(CurrentPath(), Unpacked(dir_, kPython).parent_path().wstring() + L";" + path) << "only Python's folder is added";
    EXPECT_EQ(Requests(), "GET /v3-flatcontainer/python/index.json 200\n"
                          "GET /v3-flatcontainer/python/3.12.10/python.3.12.10.nupkg 200\n");
}

// A folder without its program, or with the archive still beside it (an unpack cut short), is
// emptied and filled again; one with its program and no archive is used as it is.
TEST_F(ToolsPhase, FillsAgainAToolFolderLeftHalfUnpacked) {
    const fs::path bin = scratch_.Folder(L"bin");
    for (const wchar_t* program : {L"cmake.exe", L"clang++.exe", L"python.exe"}) scratch_.File(bin / program);
    SetEnvironmentVariableW(L"PATH", (bin.wstring() + L";" + system_).c_str());
    const fs::path tools = scratch_.Folder(dir_ / L"tools");
    scratch_.File(tools / L"Git" / L"cmd" / L"git.exe");
    scratch_.File(tools / L"Git.zip", 100);
    scratch_.File(tools / L"Ninja" / L"stale" / L"half.txt");

    ASSERT_EQ(Prepare(), L"");
    EXPECT_EQ(Requests(),
              "GET /repos/git-for-windows/git/releases/latest 200\n"
              "GET /git-for-windows/git/releases/download/v2.45.1.windows.1/MinGit-2.45.1-64-bit.zip 302\n"
              "GET /release-assets/git-for-windows/git/releases/download/v2.45.1.windows.1/MinGit-2.45.1-64-bit.zip 200\n"
              "GET /repos/ninja-build/ninja/releases/latest 200\n"
              "GET /ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 302\n"
              "GET /release-assets/ninja-build/ninja/releases/download/v1.12.1/ninja-win.zip 200\n");
    EXPECT_FALSE(fs::exists(tools / L"Ninja" / L"stale"));
    EXPECT_FALSE(fs::exists(tools / L"Git.zip"));
    EXPECT_EQ(FileText(Unpacked(dir_, kGit).wstring()), FileText(HostPath("QUORIN_STANDIN"))) << "the unpacked one";
    EXPECT_TRUE(fs::exists(Unpacked(dir_, kNinja)));

    ClearRequests();
    SetEnvironmentVariableW(L"PATH", (bin.wstring() + L";" + system_).c_str());
    ASSERT_EQ(Prepare(), L"");
    EXPECT_EQ(Requests(), "");
}

// Cancelling between two tools ends the phase before the next one is asked for.
TEST_F(ToolsPhase, StopsAtTheNextToolOnceCancelled) {
    setup::s_cancel = true;
    EXPECT_EQ(Prepare(), L"Cancelled.");
    EXPECT_EQ(window_.LogLines(), std::vector<std::wstring>{L"== Checking the tools"});
    EXPECT_EQ(Requests(), "");
    EXPECT_EQ(CurrentPath(), system_);
}

}  // namespace
