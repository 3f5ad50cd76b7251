// A run as the window sees it: Install (or Update) starts one with the choices, Cancel and closing
// stop it, its end is shown and waited for, and Play starts what a successful one built. Window
// thread.
#pragma once

#include <string>
#include <thread>

namespace setup {

// The install worker, joined before the next run and on close.
extern std::thread s_worker;

// The Install / Update / Cancel button: cancels a running install, or checks the choices, asks
// what needs asking and starts the install worker.
void StartOrCancel();

// Stops a run: every child process ends at once, and the worker fails at its next check.
void Cancel();

// Waits for the worker to end (after a Cancel). What it posts meanwhile is thrown away.
void JoinWorker();

// Everything that changes as a run starts or ends: the choices locked and the Install button
// turned into Cancel, the PC kept awake, the taskbar button plain.
void SetBusy(bool busy);

// The worker's final message: the window as a run that succeeded or failed leaves it, the taskbar
// button flashed when the window is behind others, and the message in a box (an update that
// succeeded starts the game instead).
void EndRun(bool ok, const std::wstring& message);

// Starts the built launcher in its own folder and closes the window; does nothing if it can't.
void Play();

}  // namespace setup
