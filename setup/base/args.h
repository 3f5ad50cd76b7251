// The program's command line. Portable: no Windows headers.
#pragma once

#include <string>
#include <vector>

namespace setup {

// The folder named after "--update" (argument 0 is the program). A later "--update" wins; one
// with nothing after it is ignored. "" means a normal start.
std::wstring UpdateFolder(const std::vector<std::wstring>& args);

}  // namespace setup
