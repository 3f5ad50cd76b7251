// The setup window's controls and the small functions that change its look. Window thread only.
#pragma once

#include "base/placement.h"

#include <windows.h>

#include <string>
#include <vector>

namespace setup {

// Control identifiers. The labels, the icon and the install-folder frame have none.
constexpr int kSourcePath = 100;
constexpr int kBrowseSource = 101;
constexpr int kInstallFolder = 102;
constexpr int kBrowseFolder = 103;
constexpr int kInstallButton = 104;  // Install, Update, or Cancel while a run is going
constexpr int kStatusLine = 105;
constexpr int kProgressBar = 106;
constexpr int kDetails = 107;
constexpr int kShortcut = 108;
constexpr int kPlay = 109;
constexpr int kDiscImage = 110;
constexpr int kExtractedFolder = 111;
constexpr int kCleanup = 112;
constexpr int kDeleteIso = 113;
constexpr int kDetailsToggle = 114;
constexpr int kSourceFrame = 115;
constexpr int kSourceHint = 116;
constexpr int kFreeSpaceHint = 117;

// The main window's style: a caption and a minimise box, not resizable.
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Pixels at 96 DPI (100 %) to device pixels at the system's DPI.
int Scaled(int pixels);

// Creates every control of the main window in tab order; the install folder edit starts with
// `folder`. Needs s_window, s_font and s_titleFont.
void CreateControls(const std::wstring& folder);

// A message box owned by the main window. Returns the button pressed.
int Ask(const std::wstring& text, UINT type);

// The current text of a control.
std::wstring Text(int id);
void SetText(int id, const std::wstring& text);
HWND Control(int id);
bool Checked(int id);

// The work area of the monitor the window is on.
Area WorkArea();

// Applies s_showLog: the window's height and place, the details box and the toggle's label. The
// details move the window up where it would reach past the bottom of the work area, and shorten
// on a work area too short for them; hidden, they take the window back down.
void Layout();

// A percentage on the progress bar, or the marquee when negative; during a run, on the taskbar
// button too.
void SetProgress(int percent);

// Appends lines to the details box, each as if on its own: the oldest text goes when the box has
// grown too long, and a very long line is shown cut short.
void AppendDetails(const std::vector<std::wstring>& lines);

}  // namespace setup
