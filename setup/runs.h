// A run as the window sees it: Install (or Update) starts one with the choices, Cancel and closing
// stop it, its end is waited for, and Play starts what a successful one built. Window thread.
#pragma once

namespace setup {

// The Install / Update / Cancel button: cancels a running install, or checks the choices, asks
// what needs asking and starts the install worker.
void StartOrCancel();

// Stops a run: every child process ends at once, and the worker fails at its next check.
void Cancel();

// Waits for the worker to end (after a Cancel). What it posts meanwhile is thrown away.
void JoinWorker();

// The window, the PC and the taskbar button as a run starts or ends: the choices locked, the PC
// kept awake, the button plain.
void SetRunning(bool running);

// Starts the built launcher in its own folder and closes the window; does nothing if it can't.
void Play();

}  // namespace setup
