// Git ref names that come from outside (a release tag from the web) and go onto a command line.
// Portable: no Windows headers.
#pragma once

#include <string_view>

namespace setup {

// Whether `name` is a plain git ref name that can stand unquoted on a command line: one to 255
// characters of ASCII letters, digits and . _ + - /, not starting with "-" (it would read as an
// option), and within git's own rules for ref names: no "..", no piece of it (between slashes)
// empty or starting with ".", and not ending in "." or ".lock". Anything else, such as white
// space, quotes, control characters or ~ ^ : ? * [ \ @{, is refused.
bool IsPlainRefName(std::wstring_view name);

}  // namespace setup
