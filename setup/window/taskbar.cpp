#include "window/taskbar.h"

#include "globals.h"
#include "win/com.h"
#include "win/handle.h"

#include <algorithm>

namespace setup {

TaskbarProgress s_taskbar;
UINT s_taskbarButtonCreated = 0;

namespace {

bool s_button = false;             // the shell has made the window's button
bool s_asked = false;              // the shell's interface was asked for since
win::Com<ITaskbarList3> s_taskbarList;  // missing under some shells: the rest goes on without it

}  // namespace

TaskbarProgress TaskbarFor(int percent) {
    if (percent < 0) return {TBPF_INDETERMINATE, 0};
    return {TBPF_NORMAL, std::min(percent, 100)};
}

void ShowOnTaskbar(const TaskbarProgress& progress) {
    s_taskbar = progress;
    // Asked for once there is something to show: COM and the shell's object would cost the
    // start-up, right after the window shows, a good part of its time.
    if (s_button && !s_asked && progress != TaskbarProgress{}) {
        s_asked = true;
        win::UseCom();
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(s_taskbarList.Receive()))) ||
            FAILED(s_taskbarList->HrInit()))
            s_taskbarList.Close();
    }
    if (!s_taskbarList) return;
    s_taskbarList->SetProgressState(s_window, progress.state);
    if (progress.state == TBPF_NORMAL || progress.state == TBPF_ERROR)
        s_taskbarList->SetProgressValue(s_window, progress.percent, 100);
}

void OnTaskbarButtonCreated() {
    ReleaseTaskbar();  // a new button (Explorer restarted) wants the interface afresh
    s_button = true;
    ShowOnTaskbar(s_taskbar);
}

void ReleaseTaskbar() {
    s_taskbarList.Close();
    s_button = s_asked = false;
}

void FlashIfBehind() {
    if (GetForegroundWindow() == s_window) return;
    FLASHWINFO flash{sizeof flash, s_window, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
}

}  // namespace setup
