#include "window/runs.h"

#include "base/text.h"
#include "globals.h"
#include "report.h"
#include "win/handle.h"
#include "win/power.h"
#include "window/choices.h"
#include "window/controls.h"
#include "window/taskbar.h"
#include "worker/install.h"

#include <windows.h>

#include <filesystem>
#include <system_error>
#ifndef _MSC_VER
#include <pthread.h>
#endif

namespace fs = std::filesystem;

namespace setup {

std::thread s_worker;

namespace {

// The choices that a run locks; deleting the disc image has a rule of its own.
constexpr int kLockedWhileBusy[] = {kSourcePath,   kBrowseSource, kInstallFolder,   kBrowseFolder,
                                    kShortcut,     kDiscImage,    kExtractedFolder, kCleanup};

}  // namespace

void SetBusy(bool busy) {
    s_busy = busy;
    for (int id : kLockedWhileBusy) EnableWindow(Control(id), !busy);
    EnableWindow(Control(kDeleteIso), !busy && !Checked(kExtractedFolder));
    SetText(kInstallButton, busy ? L"Cancel" : L"Install");
    win::KeepAwake(busy);  // a build takes up to half an hour
    ShowOnTaskbar({});
}

void EndRun(bool ok, const std::wstring& message) {
    SetText(kStatusLine, message);
    SetBusy(false);
    SetProgress(ok ? 100 : 0);
    if (!ok) ShowOnTaskbar({TBPF_ERROR, 100});  // until the next run
    FlashIfBehind();  // before the box, which waits for the player
    if (ok) {
        SetText(kInstallButton, L"Update");
        ShowWindow(Control(kPlay), SW_SHOW);
        if (s_updateMode)
            Play();  // the launcher starts and the window closes, with no box
        else
            Ask(message, MB_ICONINFORMATION);
        return;
    }
    if (!s_showLog) {  // the log is what explains a failure
        s_showLog = true;
        Layout();
    }
    Ask(message, MB_ICONWARNING);
}

void Cancel() {
    s_cancel = true;
    TerminateJobObject(s_job.get(), 1);
}

void StartOrCancel() {
    if (s_busy) {
        Cancel();
        SetText(kStatusLine, L"Cancelling...");
        return;
    }
    if (s_worker.joinable()) s_worker.join();
    const Choices choices = ReadChoices();
    if (!Confirm(choices)) return;
    s_cancel = false;
    ShowWindow(Control(kPlay), SW_HIDE);
    SetBusy(true);
    try {
        s_worker = std::thread(Install, choices);
    } catch (const std::system_error&) {
        // No thread means no finished message either: give the window back to the user here.
        SetBusy(false);
        Ask(L"Setup couldn't start the install. Close some programs and try again.", MB_ICONWARNING);
    }
}

// The worker only posts to the window, but a question box it shows (owned by the window)
// re-enables the window when it closes, which is a message sent to this thread: those are still
// handled meanwhile, so the two threads can't wait for each other. What the worker posts
// meanwhile is thrown away, so that a post it retries into a full queue goes through.
void JoinWorker() {
    if (!s_worker.joinable()) return;
#ifdef _MSC_VER
    const HANDLE thread = s_worker.native_handle();
#else
    const HANDLE thread = pthread_gethandle(s_worker.native_handle());  // the posix thread model's handle
#endif
    constexpr DWORD kSentOrPosted = QS_SENDMESSAGE | QS_POSTMESSAGE;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, kSentOrPosted) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        for (Report report; NextReport(s_window, report);) {
        }
    }
    s_worker.join();
}

void Play() {
    std::wstring command = Quote(s_installed);
    const std::wstring folder = fs::path(s_installed).parent_path().wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &started))
        return;
    const win::Handle process(started.hProcess), thread(started.hThread);  // the launcher outlives Setup
    PostMessageW(s_window, WM_CLOSE, 0, 0);
}

}  // namespace setup
