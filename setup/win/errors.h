// The system's own words for why a call failed, for setup.log: a player's log is all a maintainer
// gets to see. Any thread.
#pragma once

#include <windows.h>

#include <string>

namespace setup::win {

// "error 193: %1 is not a valid Win32 application." The code (an HRESULT in hex) and what the
// system says of it; WinHTTP's codes (12000 to 12999) in WinHTTP's own words. Where the system
// has none, `otherwise`, or the code alone.
std::wstring ErrorText(DWORD error, const wchar_t* otherwise = nullptr);

// The same for the calling thread's last error.
std::wstring LastErrorText();

}  // namespace setup::win
