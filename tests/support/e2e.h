// End to end: the test build of QuorinSetup.exe (the sandbox's services compiled in) runs as a
// Windows process of its own under the same Wine, and a test drives it through its window as a
// person would: it types into the fields, clicks the options and Install, answers the questions,
// watches the status line, and reads the final message, setup.log and what was left running.
//
// A test describes each run as a Launch (a table of them, one run checking many facts) and gets
// an Outcome back. CTest sets QUORIN_SANDBOX_SETUP_EXE to the test build, besides the sandbox's
// own variables (support/sandbox.h).
#pragma once

#include "support/message_boxes.h"  // Box

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// What the user sets in the window before pressing Install.
struct Form {
    std::wstring source{};         // the game copy; "" leaves the field empty
    bool extractedFolder = false;  // "Extracted disc folder" rather than "Disc image (.iso)"
    bool shortcut = true;          // the options, as the window starts
    bool cleanup = false;
    bool deleteIso = false;
};

// Something to do once the status line reads a text that starts with `status`, e.g. cancel
// while a download goes on. Each step is done once.
struct Step {
    std::wstring status;
    std::function<void(HWND window)> action;
};

struct Launch {
    std::wstring dir;     // the install folder: typed in, or named after "--update"
    bool update = false;  // starts with "--update <dir>", which presses Install itself
    Form form;            // not used with `update`
    std::wstring path;    // folders in front of the Wine system folders on PATH, ";"-separated
    std::vector<std::pair<std::wstring, std::wstring>> environment;  // further variables
    std::vector<int> answers;  // for the Yes/No questions, in order; one too few fails the test
    bool starts = true;  // false: the answers keep the run from starting; it's over once they are given
    std::vector<Step> steps;
    std::function<void(HWND window)> filled;  // once the form is filled, before Install is pressed
    std::function<void(HWND box)> atFinal;    // while the final box shows, before it is answered
    // After the final message has been answered; by default the window is closed.
    std::function<void(HWND window)> atEnd;
    std::wstring exe;  // the program to start, e.g. a copy of the test build elsewhere; "" for the test build
};

// The status line and the progress bar at one moment; the bar reads -1 while the marquee runs.
struct Screen {
    std::wstring status;
    int bar = 0;
    bool operator==(const Screen&) const = default;
};

struct Outcome {
    std::vector<Box> questions;          // the Yes/No boxes, as asked
    Box final;                           // the box that ended the run; empty when none did
    std::vector<std::wstring> statuses;  // each status-line text seen, in order, without repeats
    Screen finalScreen;                  // the status line and the bar when the final box showed
    std::wstring details;                // the details box then
    bool detailsShown = false;           // and whether it was open
    bool playShown = false;              // the Play button then
    std::string log;                     // setup.log in the install folder, as bytes
    std::vector<std::wstring> leftWindows;  // processes the run started that outlived it
    std::vector<std::string> leftLinux;     // tools the bridge still ran for the install folder
};

// Starts the test build, drives it through one run and waits for its end.
Outcome RunSetup(const Launch& launch);

// Presses a button of the window, as a click does; it is handled after what the window is doing.
void Click(HWND window, int id);

// The status line and the bar as they are now.
Screen ScreenOf(HWND window);

// Waits for the window's next message box, answers it with `button` and gives what it showed
// (an empty Box when none came), for a step that asks a question of its own.
Box AnswerBox(HWND window, int button);

// The log's lines, without their CR LF.
std::vector<std::string> Lines(const std::string& log);

// The lines of the last run in a log that several runs appended to.
std::string LastRun(const std::string& log);

// The tools that the bridge runs now for the install folder `dir` (its folder or arguments name
// it), a line each as the sandbox's state/running lists them.
std::vector<std::string> BridgeTools(const std::wstring& dir);

}  // namespace testing_support
