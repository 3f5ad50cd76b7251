// The PC's power state through a run: a build takes up to half an hour, and the PC must not
// sleep meanwhile; the screen may. Window thread only.
#pragma once

#include <windows.h>

namespace setup::win {

// Keeps the PC awake while `awake`, until this is called again with false (or the thread ends).
inline void KeepAwake(bool awake) {
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

}  // namespace setup::win
