// A child that prints 500,000 build lines (about 40 MB) as fast as it can: Run, on a worker
// thread, logging every line to a file as the install does while this thread plays the window,
// against a bare pipe-read loop of ours, in the same Wine, alternating.
//
//   run_bench     (QUORIN_CHILD_EXE names the test child, as ./dev bench sets it)
#include "base/text.h"
#include "globals.h"
#include "median.h"
#include "report.h"
#include "support/host_path.h"
#include "support/sandbox.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/handle.h"
#include "worker/programs.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kLines = 500000;

template <typename Work>
double Seconds(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Run as the install worker calls it, with setup.log open; this thread empties the queue as
// the window would. Returns the number of lines the window received.
std::size_t Ours(const std::wstring& command, const fs::path& log) {
    testing_support::TestWindow window;
    std::error_code ignored;
    fs::remove(log, ignored);
    setup::OpenLog(log);
    std::thread worker([&] {
        setup::Run(command, {}, {});
        setup::PostFinished(false, L"done");
    });
    std::size_t lines = 0;
    for (bool done = false; !done;) {
        WaitMessage();
        for (const auto& posted : window.Take()) {
            lines += posted.kind == setup::Report::kLines;
            done = done || posted.kind == setup::Report::kFinished;
        }
    }
    worker.join();
    setup::CloseLog();
    return lines;
}

// The reference: a pipe, the child, and a read loop that writes the bytes to a file.
std::size_t Bare(const std::wstring& command, const fs::path& log) {
    testing_support::Program child(command, {.output = true});
    std::FILE* out = _wfopen(log.c_str(), L"wb");
    std::size_t lines = 0;
    child.ReadEach([&](std::string_view piece) {
        std::fwrite(piece.data(), 1, piece.size(), out);
        lines += std::count(piece.begin(), piece.end(), '\n');
    });
    std::fclose(out);
    child.Wait();
    return lines;
}

}  // namespace

int main() try {
    const testing_support::WorkerJob job;
    const std::wstring command =
        setup::Quote(testing_support::HostPath("QUORIN_CHILD_EXE")) + L" --lines " + std::to_wstring(kLines);
    const fs::path log = fs::temp_directory_path() / "quorin-run-bench.log";

    std::vector<double> ours, bare;
    for (int round = 0; round < 3; ++round) {
        std::size_t lines[2] = {};
        ours.push_back(Seconds([&] { lines[0] = Ours(command, log); }));
        bare.push_back(Seconds([&] { lines[1] = Bare(command, log); }));
        if (lines[0] != kLines + 1 || lines[1] != kLines) {  // Run also logs its command line
            std::fprintf(stderr, "run_bench: %zu lines through Run, %zu through the bare loop\n", lines[0], lines[1]);
            return 1;
        }
    }
    fs::remove(log);
    std::printf("run_bench: %lu lines (%.0f MB) from a child: Run/bare pipe loop time %.2f, %.0f lines/s through Run "
                "(%.0f lines/s bare)\n",
                kLines, kLines * 78.0 / (1 << 20), Median(ours) / Median(bare), kLines / Median(ours),
                kLines / Median(bare));
} catch (const setup::Failed& failed) {
    std::fprintf(stderr, "run_bench: %ls\n", failed.message.c_str());
    return 1;
}
