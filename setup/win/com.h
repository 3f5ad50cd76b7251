// COM on the window's thread, started on its first use there (the pickers, the taskbar button)
// rather than before the window shows: loading it takes a quarter of the start-up's time. The
// worker starts COM for itself. Window thread only.
#pragma once

namespace setup::win {

void UseCom();

// After the last use: lets COM go again, if it was started.
void EndCom();

}  // namespace setup::win
