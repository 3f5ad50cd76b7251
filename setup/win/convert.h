// Conversions between the byte strings of child processes, HTTP bodies and exception texts, and
// the UTF-16 text of everything the user sees. Any thread.
#pragma once

#include <string>

namespace setup::win {

// UTF-8 when the bytes are valid UTF-8, else the system's ANSI code page; `utf8`, when given, is
// set to which (the bytes of valid UTF-8 are already what setup.log holds). Never fails; embedded
// NUL bytes are converted like any other.
std::wstring Widen(const std::string& bytes, bool* utf8 = nullptr);

// UTF-8 bytes of the text (what setup.log holds).
std::string Utf8(const std::wstring& text);

}  // namespace setup::win
