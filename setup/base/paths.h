// Comparing Windows paths as the file system does. Portable: no Windows headers.
#pragma once

#include <string_view>

namespace setup {

// Whether `path` is `folder` or lies inside it: whole components, split at \ or /, in any letter
// case (as the C runtime folds it: ASCII letters at least), with doubled and trailing separators
// ignored. Both are absolute; an empty folder holds nothing.
bool IsWithin(std::wstring_view path, std::wstring_view folder);

}  // namespace setup
