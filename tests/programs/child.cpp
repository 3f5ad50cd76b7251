// The child process of the process-runner tests and benchmarks, and a stand-in for git: writes
// given bytes in given chunks, with pauses, and exits with a given code.
//
//   child [options] [chunk...]
//     chunk            written with one WriteFile; \r \n \\ and \xHH stand for those bytes
//     --pause MS       between chunks
//     --exit N         the exit code (default 0)
//     --cwd            first writes the current folder in UTF-8 and a LF
//     --big N          first writes N bytes of 'x' (no line end), in pieces of 64 KiB
//     --lines N        first writes N numbered lines of 80 bytes
//     --build N        first writes N lines as a build prints them: "[n/N] ..." counters, with
//                      a "  n% ..." percentage line and a plain line in every ten, and a "==> "
//                      status line in every ten thousand
//     --rate R         writes the --lines and --build that follow at R lines a second
//                      (default 0: as fast as it can)
//     --spawn          first starts a grandchild (this program, "--sleep 60000") that inherits
//                      the output, and writes "child <pid>" and "grandchild <pid>" lines
//     --sleep MS       sleeps before exiting
//     --leak HANDLE    writes "leaked" to the handle of that value, had it been inherited
//     --env NAME       first writes "NAME=value" (in UTF-8), or "NAME unset", and a LF
//
// Called like git ("-C <folder> ..."), it skips the folder, so it can stand in for git.
#include "base/text.h"
#include "support/program.h"
#include "win/convert.h"
#include "win/environment.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using setup::win::Utf8;

namespace {

void Write(const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string Unescape(const char* text) {
    std::string bytes;
    for (const char* c = text; *c; ++c) {
        if (*c != '\\' || !c[1]) {
            bytes += *c;
        } else if (*++c == 'x' && c[1] && c[2]) {
            bytes += static_cast<char>(std::strtoul(std::string(c + 1, 2).c_str(), nullptr, 16));
            c += 2;
        } else {
            bytes += *c == 'r' ? '\r' : *c == 'n' ? '\n' : *c;
        }
    }
    return bytes;
}

void WriteFolder() {
    std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    Write(Utf8(folder) + "\n");
}

void WriteBig(unsigned long long size) {
    const std::string piece(64 * 1024, 'x');
    for (; size > piece.size(); size -= piece.size()) Write(piece);
    Write(piece.substr(0, size));
}

// Line i of count, with its LF.
using LineMaker = std::string (*)(unsigned long i, unsigned long count);

std::string NumberedLine(unsigned long i, unsigned long count) {
    char line[81];
    std::snprintf(line, sizeof line, "[%7lu/%7lu] Building CXX object src/ppc/ppc_recomp.%06lu.cpp.obj......\n", i + 1,
                  count, i);
    return line;
}

std::string BuildLine(unsigned long i, unsigned long count) {
    char line[81];
    if (i % 10000 == 0)
        std::snprintf(line, sizeof line, "==> Compiling part %lu\n", i / 10000 + 1);
    else if (i % 10 == 5)
        std::snprintf(line, sizeof line, "  %lu%% game/extracted/media/file.%06lu\n", i * 100 / count, i);
    else if (i % 10 == 9)
        std::snprintf(line, sizeof line, "src/ppc/ppc_recomp.%06lu.cpp: warning: unused variable 'ctx'\n", i);
    else
        std::snprintf(line, sizeof line, "[%lu/%lu] Building CXX object src/ppc/ppc_recomp.%06lu.cpp.obj\n", i + 1,
                      count, i);
    return line;
}

// Buffered like a C runtime's output to a pipe, 4 KiB a write; at `rate` lines a second, each
// write holds the lines that are due.
void WriteLines(unsigned long count, unsigned long rate, LineMaker make) {
    const ULONGLONG start = GetTickCount64();
    for (unsigned long i = 0; i < count;) {
        const ULONGLONG elapsed = GetTickCount64() - start;
        const auto due = rate ? static_cast<unsigned long>(std::min<ULONGLONG>(count, elapsed * rate / 1000)) : count;
        if (i == due) {
            Sleep(1);
            continue;
        }
        std::string block;
        while (i < due && block.size() < 4000) block += make(i++, count);
        Write(block);
    }
}

void WriteVariable(const char* name) {
    const std::wstring value = setup::win::Variable(setup::win::Widen(name).c_str());
    Write(std::string(name) + (value.empty() ? " unset" : "=" + Utf8(value)) + "\n");
}

void Spawn() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const testing_support::Program grandchild(setup::Quote(self) + L" --sleep 60000", {.sharesOutput = true});
    if (!grandchild.started()) ExitProcess(99);
    Write("child " + std::to_string(GetCurrentProcessId()) + "\ngrandchild " + std::to_string(grandchild.id()) + "\n");
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-C") == 0) first = 3;
    DWORD pause = 0, sleep = 0;
    unsigned long rate = 0;
    UINT code = 0;
    bool wrote = false;
    for (int i = first; i < argc; ++i) {
        const std::string option = argv[i];
        const bool valued = i + 1 < argc;
        if (option == "--pause" && valued) {
            pause = std::strtoul(argv[++i], nullptr, 10);
        } else if (option == "--exit" && valued) {
            code = std::strtoul(argv[++i], nullptr, 0);
        } else if (option == "--sleep" && valued) {
            sleep = std::strtoul(argv[++i], nullptr, 10);
        } else if (option == "--big" && valued) {
            WriteBig(std::strtoull(argv[++i], nullptr, 10));
        } else if (option == "--rate" && valued) {
            rate = std::strtoul(argv[++i], nullptr, 10);
        } else if (option == "--lines" && valued) {
            WriteLines(std::strtoul(argv[++i], nullptr, 10), rate, NumberedLine);
        } else if (option == "--build" && valued) {
            WriteLines(std::strtoul(argv[++i], nullptr, 10), rate, BuildLine);
        } else if (option == "--leak" && valued) {
            DWORD written = 0;
            const auto handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::strtoull(argv[++i], nullptr, 0)));
            WriteFile(handle, "leaked", 6, &written, nullptr);
        } else if (option == "--cwd") {
            WriteFolder();
        } else if (option == "--env" && valued) {
            WriteVariable(argv[++i]);
        } else if (option == "--spawn") {
            Spawn();
        } else {
            if (wrote && pause) Sleep(pause);
            Write(Unescape(argv[i]));
            wrote = true;
        }
    }
    if (sleep) Sleep(sleep);
    ExitProcess(code);
}
