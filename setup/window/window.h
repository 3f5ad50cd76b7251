// Start-up and shut-down of the setup window, cut so that tests make the window exactly as the
// program does. Window thread.
#pragma once

#include <string>
#include <vector>

namespace setup {

// Everything before the message loop: the job object, the common controls, the fonts, the
// window with its controls, the proposed install folder and the look of an existing install.
// Shows the window and, when `args` (argument 0 is the program) hold "--update <folder>",
// presses Install. Sets s_window. False, after telling the user, when there can be no job object:
// the program must not run children it couldn't stop.
bool StartUp(const std::vector<std::wstring>& args, int show);

// Runs until the window is gone: the keyboard moves between the controls as in a dialog.
void MessageLoop();

// After the loop: closes the job, which ends anything still in it, releases COM and deletes the
// fonts.
void ShutDown();

}  // namespace setup
