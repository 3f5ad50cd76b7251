// The taskbar button through a long run: the progress bar's state on it, a failed run's error
// left there, and a flash that calls the player back when a run ends behind other windows.
// Window thread only.
#pragma once

#include <windows.h>
#include <shobjidl.h>

namespace setup {

// What the taskbar button shows.
struct TaskbarProgress {
    TBPFLAG state = TBPF_NOPROGRESS;
    int percent = 0;
    bool operator==(const TaskbarProgress&) const = default;
};

// What it shows now, or would where the shell has no taskbar interface.
extern TaskbarProgress s_taskbar;

// The message the shell sends once the window's button exists, and again when it comes back (a
// restarted Explorer); 0 before start-up asks for it.
extern UINT s_taskbarButtonCreated;

// The button as the progress bar shows `percent` during a run (negative: the marquee).
TaskbarProgress TaskbarFor(int percent);

// Shows `progress` on the button, once the shell has made it and where it offers the interface.
void ShowOnTaskbar(const TaskbarProgress& progress);

// The shell made the window's button: shows on it what it should.
void OnTaskbarButtonCreated();

// Lets the shell's interface go, before COM is released, and forgets the button.
void ReleaseTaskbar();

// Flashes the button until the window is brought up, unless the window is already in front.
void FlashIfBehind();

}  // namespace setup
