#include "worker/install.h"

#include "globals.h"
#include "maintenance/layout.h"
#include "report.h"
#include "version.h"
#include "win/convert.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/files.h"
#include "win/running.h"
#include "worker/built.h"
#include "worker/phases/build.h"
#include "worker/phases/finish.h"
#include "worker/phases/game.h"
#include "worker/phases/source.h"
#include "worker/phases/tools.h"
#include "worker/removal.h"

#include <objbase.h>

#include <exception>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace setup {
namespace {

// The install folder, held by this run alone, with setup.log open in it. Nothing reaches the
// file when the folder can't be made or another run holds it; a log that can't be opened keeps
// the lines out of the file, and the details say so.
void Begin(const std::wstring& dir, win::FileHandle& lock) {
    if (const DWORD error = win::MakeFolders(dir)) Fail(L"Couldn't create " + dir, win::ErrorText(error));
    // A second copy of Setup, started by a second double-click, would download into the same
    // files and write into the same log and clone.
    if (!win::Lock(layout::LockFile(dir), lock))
        Fail(L"Setup is already installing to this folder. Wait until it has finished, or close it, and try again.",
             win::LastErrorText());
    const DWORD unlocked = lock ? 0 : GetLastError();
    const bool open = OpenLog(layout::LogFile(dir));
    Log(L"Quorin Recompiled Setup, installing to " + dir);
    Log(L"Setup " + win::Widen(kVersion) + L" on Windows " + win::WindowsVersion() + L" (64-bit); " + win::FreeSpaceOn(dir));
    if (!open) Log(L"setup.log couldn't be opened (another program may be using it): this run isn't saved to it.");
    if (unlocked) Log(L"(setup.lock couldn't be made, so a second Setup isn't kept out: " + win::ErrorText(unlocked) + L")");
}

// The temporary files of the run's programs, on the install folder's drive, whose space was
// checked, and under a path that build tools can read: in the profile's own, a user name in
// another alphabet or a full system drive fails builds. The variables are as they were, and the
// folder gone, once the run is over.
struct RunTemp {
    explicit RunTemp(const fs::path& dir) : folder(layout::TempFolder(dir)) {
        if (const DWORD error = win::MakeFolders(folder)) {
            Log(L"(" + folder.wstring() + L" couldn't be made, so the temporary files go where the system keeps them: " +
                win::ErrorText(error) + L")");
            return;
        }
        made = true;
        for (const wchar_t* name : {L"TEMP", L"TMP"}) win::SetVariable(name, folder.wstring());
        Log(L"Temporary files go to " + folder.wstring());
    }
    ~RunTemp() {
        if (!made) return;  // what is in the way isn't Setup's to delete
        win::SetVariable(L"TEMP", temp);
        win::SetVariable(L"TMP", tmp);
        Remove(folder);
    }
    RunTemp(const RunTemp&) = delete;
    RunTemp& operator=(const RunTemp&) = delete;

    const std::wstring temp = win::Variable(L"TEMP"), tmp = win::Variable(L"TMP");
    const fs::path folder;
    bool made = false;
};

// A program run from the install folder, the game above all, holds its files open: the source
// step and the build would fail to rewrite them, part way through. The player closes it; Setup
// never ends a program of the player's.
void CheckNothingRuns(const std::wstring& dir) {
    std::error_code error;
    const fs::path folder = fs::absolute(dir, error);
    std::vector<fs::path> running;
    while (!(running = win::RunningWithin(folder, s_job.get())).empty()) {
        if (AskFromWorker(L"Quorin Recompiled is running (" + running.front().filename().wstring() +
                              L"). Close it, then choose Yes to go on; No stops here.",
                          MB_YESNO | MB_ICONWARNING) != IDYES)
            Fail(L"Close Quorin Recompiled and try again.");
    }
}

// The phases, strictly one after the other.
void RunPhases(const Choices& choices, RunValues& run) {
    CheckGameFiles(choices, run);
    if (UpToDate(run.repo)) {
        s_installed = layout::Launcher(run.repo).wstring();
        run.message = L"Quorin Recompiled is up to date. Start the game with the launcher.";
        return;
    }
    const RunTemp temp(choices.dir);
    PrepareTools(choices.dir);
    PostProgress(-1);  // no measure of progress until the build prints its first
    CheckNothingRuns(choices.dir);
    GetSource(choices.dir, run.repo);
    CheckNothingRuns(choices.dir);  // the player may have started the game meanwhile
    BuildGame(choices, run);
    Finish(choices, run);  // composes the summary
}

}  // namespace

void Install(Choices choices) {
    KeepPace();
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));  // the desktop shortcut's
    RunValues run;
    win::FileHandle lock;
    std::wstring logged;  // the final message as the log keeps it, when it says more
    try {
        Begin(choices.dir, lock);
        RunPhases(choices, run);
        run.success = true;
    } catch (const Failed& failed) {
        run.message = failed.message;
        logged = Logged(failed);
    } catch (const std::exception& error) {
        run.message = L"Unexpected error: " + win::Widen(error.what());
    }
    Log(logged.empty() ? run.message : logged);
    CloseLog();
    if (com) CoUninitialize();
    lock.Close();  // before the window hears of the end, and may start the next run
    PostFinished(run.success, run.message);
}

}  // namespace setup
