// The first phase of a run: is the game already extracted in this install, was a game copy
// given, is there room for the build, and does the copy look like a dump of the disc.
#pragma once

#include "worker/phases/values.h"

namespace setup {

// Sets run.repo and run.alreadyExtracted. Fails without a game copy when one is needed, and
// asks before going on with too little free space. A first install then reads the copy: it logs
// what default.xex says of a dump, and asks before going on with anything else. Worker thread.
void CheckGameFiles(const Choices& choices, RunValues& run);

}  // namespace setup
