#include "base/args.h"

namespace setup {

std::wstring UpdateFolder(const std::vector<std::wstring>& args) {
    std::wstring folder;
    for (std::size_t i = 1; i + 1 < args.size(); ++i)
        if (args[i] == L"--update") folder = args[i + 1];
    return folder;
}

}  // namespace setup
