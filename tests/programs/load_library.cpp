// Loads DLLs by their bare names, as a program that doesn't restrict the DLL search does, and
// prints the file each was loaded from, a line each in UTF-8 ("-" for one that didn't load).
//
//   load_library NAME...
#include "win/convert.h"

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const HMODULE module = LoadLibraryW(argv[i]);
        wchar_t path[1024] = L"-";
        if (module) GetModuleFileNameW(module, path, 1024);
        std::printf("%s\n", setup::win::Utf8(path).c_str());
    }
    return 0;
}
