// The last step of a run, after a build that made the launcher: the desktop shortcut, freeing
// space, deleting the disc image, and the final message. Nothing here fails the run. Worker thread.
#pragma once

#include "worker/phases/values.h"

namespace setup {

// Puts "Quorin Recompiled.lnk" on the desktop when chosen; sets run.message to the success text,
// with what was freed when the tools and build leftovers were to go, and a word about the disc
// image when this run extracted it and could delete it.
void Finish(const Choices& choices, RunValues& run);

}  // namespace setup
