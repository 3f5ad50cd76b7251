// This process's environment, which every child inherits: the PATH that the tools phase extends,
// git's settings and the proxies, Python's encoding. Either thread.
#pragma once

#include <string>

namespace setup::win {

// A variable as it is now, such as PATH; "" when unset.
std::wstring Variable(const wchar_t* name);

// Sets a variable for this process and what it starts; an empty value removes it.
void SetVariable(const std::wstring& name, const std::wstring& value);

}  // namespace setup::win
