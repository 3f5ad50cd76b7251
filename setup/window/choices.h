// The player's choices for a run: the game copy and the install folder, the free-space hint,
// the options, and what is asked or refused before a run starts. Window thread; the worker gets
// its own copy of the Choices.
#pragma once

#include "worker/install.h"

#include <string>

namespace setup {

// The name of the install folder that Setup proposes, and puts inside a folder the user picks.
constexpr const wchar_t* kFolderName = L"Quorin-Recomp";

// The source hint and the delete-the-image option follow the kind of game copy.
void UpdateSourceChoice();

// The free-space hint for the drive of the install folder (or its nearest existing parent).
void UpdateFreeSpace();

// Pickers for the game copy and the install folder; cancelling one changes nothing.
void BrowseSource();
void BrowseDir();

// The system's folder picker: the folder chosen, or "" when none was.
std::wstring PickFolder();

// The install folder for a folder the user picked: a folder named Quorin-Recomp inside it,
// unless it is already named that.
std::wstring InstallFolderIn(const std::wstring& picked);

// The options as they stand, with the texts of the two edits.
Choices ReadChoices();

// The questions and refusals before a run, in order. True when the run may start.
bool Confirm(const Choices& choices);

}  // namespace setup
