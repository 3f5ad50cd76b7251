// Safe loading: a DLL or a git.exe planted beside the downloaded program, in a Downloads folder
// full of other files, is never loaded or run. The test build of QuorinSetup.exe runs from such a
// folder (its current folder too) and does a download; a program of ours that loads DLLs without
// restricting the search, started from the same folder, does load the planted ones, so the plants
// are real.
//
// Windows takes a DLL from the first place where it finds a file of that name. Wine prefers its
// own built-in DLLs unless told otherwise, so the programs here are told to take these names from
// a file first (Wine's DLL overrides for their file names). They are the DLLs that the program
// loads itself, on first use: WinHTTP for the download, the common controls for the window.
// (Others, such as version.dll, Wine's own user32 loads before the program's first instruction,
// where Windows takes a known DLL's dependencies from the system folder: planting those would
// test Wine, not the program.)
#include "support/e2e.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const wchar_t* const kPlanted[] = {L"winhttp", L"comctl32"};  // each as a .dll
const wchar_t* const kPrograms[] = {L"load_library.exe", L"QuorinSetup.exe"};

// Where Wine keeps the DLL overrides of the programs of one file name.
std::wstring OverridesKey(const wchar_t* program) {
    return std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides";
}

// A Downloads folder (named as a French one is) holding our DLL under each planted name. While it
// lives, the programs that the tests start take those names from a file first.
class PlantedDlls : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* name : kPlanted)
            ASSERT_TRUE(CopyFileW(HostPath("QUORIN_PLANTED_DLL").c_str(), Dll(name).c_str(), FALSE))
                << "QUORIN_PLANTED_DLL doesn't name the planted DLL";
        const std::wstring order = L"native,builtin";
        for (const wchar_t* program : kPrograms) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OverridesKey(program).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                      nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            for (const wchar_t* name : kPlanted)
                RegSetValueExW(key, name, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(order.c_str()),
                               static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }
    void TearDown() override {
        for (const wchar_t* program : kPrograms) RegDeleteTreeW(HKEY_CURRENT_USER, OverridesKey(program).c_str());
        SetFaults("");
    }

    // A program of ours copied into the Downloads folder, as a user would have downloaded it.
    fs::path Downloaded(const char* variable, const wchar_t* name) {
        const fs::path copy = downloads_ / name;
        EXPECT_TRUE(CopyFileW(HostPath(variable).c_str(), copy.c_str(), FALSE)) << variable << " names no program";
        return copy;
    }

    fs::path Dll(const wchar_t* name) const { return downloads_ / (std::wstring(name) + L".dll"); }

    // The program that loaded a planted DLL, as its mark beside it tells; "" when none did.
    std::string LoadedBy(const wchar_t* name) const { return FileText(Dll(name).wstring() + L".loaded"); }

    Scratch scratch_;
    const fs::path downloads_ = scratch_.Folder(L"T\u00e9l\u00e9chargements");
};

TEST_F(PlantedDlls, AreLoadedByAProgramThatDoesntRestrictTheSearch) {
    const fs::path loader = Downloaded("QUORIN_LOAD_LIBRARY_EXE", L"load_library.exe");
    std::wstring command = Quote(loader);
    std::vector<std::string> expected;
    for (const wchar_t* name : kPlanted) {
        command += L" " + Dll(name).filename().wstring();
        expected.push_back(Utf8(Dll(name).wstring()));
    }
    const Finished run = RunProgram(command, downloads_.wstring());
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_EQ(Lines(run.output), expected) << "each name was taken from the Downloads folder";
    for (const wchar_t* name : kPlanted) EXPECT_EQ(LoadedBy(name), Utf8(loader.wstring())) << Utf8(name);
}

// Started with "--update" on an install with the game extracted, it looks up Git's release and
// downloads it, which the sandbox refuses: the run ends there, quickly, after two requests.
TEST_F(PlantedDlls, AreNeverLoadedByTheSetupWhileItDownloads) {
    const fs::path dir = scratch_.root() / L"Quorin";
    scratch_.File(L"Quorin/quorin-recomp/game/extracted/default.xex");
    SetFaults(R"({"answers": [{"path": ".*/MinGit-.*\\.zip", "status": 404}]})");
    ClearRequests();

    Launch launch;
    launch.dir = dir.wstring();
    launch.update = true;
    launch.exe = Downloaded("QUORIN_SANDBOX_SETUP_EXE", L"QuorinSetup.exe").wstring();
    const Outcome outcome = RunSetup(launch);

    for (const wchar_t* name : kPlanted) EXPECT_EQ(LoadedBy(name), "") << Utf8(name) << " was loaded";
    const std::wstring download = SandboxToolNamed(L"Git").url.substr(std::wstring(setup::kGitHubApi).size());
    EXPECT_EQ(Requests(), "GET /repos/git-for-windows/git/releases/latest 200\nGET " + Utf8(download) + " 404\n");
    EXPECT_EQ(outcome.final.text, L"Couldn't download Git.");
    EXPECT_EQ(outcome.final.icon, L"warning");
    const std::vector<std::string> lines = Lines(outcome.log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Couldn't download Git.");
    EXPECT_EQ(outcome.leftWindows, std::vector<std::wstring>{});
}

// A git.exe lying beside it, which Windows would run before any on the PATH, is never run: here it
// isn't even a program. The real one clones, and fails as the sandbox makes it.
TEST_F(PlantedDlls, AndAPlantedGitIsNeverRun) {
    std::ofstream(downloads_ / L"git.exe") << "not a program";
    const fs::path bin = scratch_.Folder(L"bin");
    for (const SandboxTool& tool : kSandboxTools) StandIn(bin.wstring(), tool.exe);
    SetFaults(R"({"answers": [{"path": "/git/.*", "status": 500}]})");

    Launch launch;
    launch.dir = (scratch_.root() / L"Quorin").wstring();
    launch.form.source = SandboxPath(L"game.iso");
    launch.path = bin.wstring();
    launch.exe = Downloaded("QUORIN_SANDBOX_SETUP_EXE", L"QuorinSetup.exe").wstring();
    EXPECT_EQ(RunSetup(launch).final.text, L"Couldn't download the source code from GitHub.");
}

}  // namespace
