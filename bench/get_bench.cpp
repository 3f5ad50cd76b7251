// Downloading 256 MB from a loopback server into a file: Get against a bare WinHTTP read loop
// of ours, in the same Wine, alternating. Each download runs in a process of its own (this
// program again, with a mode), so that each side's peak memory is its own.
//
//   get_bench                            the comparison, one line of ratios
//   get_bench get|query|read PORT FILE   one download; prints seconds, peak working set, peak private bytes
#include "base/text.h"
#include "support/http_server.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/convert.h"
#include "win/handle.h"
#include "worker/downloads.h"
#include "worker/programs.h"

#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMegabytes = 256;
const wchar_t* const kPath = L"/big.zip";

// The references. "query" is the loop of the WinHTTP documentation, which Get follows: ask what
// is available, then read exactly that much. "read" just reads 64 KiB at a time until the end.
bool BareGet(const std::string& mode, INTERNET_PORT port, const fs::path& file) {
    HINTERNET session = WinHttpOpen(L"bare", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", port, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", kPath, nullptr, nullptr, nullptr, 0);
    bool ok = WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr);
    std::FILE* out = _wfopen(file.c_str(), L"wb");
    std::vector<char> buffer(64 * 1024);
    DWORD available = 64 * 1024, read = 0;
    while (ok && (mode == "read" || (WinHttpQueryDataAvailable(request, &available) && available > 0))) {
        if (buffer.size() < available) buffer.resize(available);
        if (!WinHttpReadData(request, buffer.data(), available, &read) || read == 0) break;
        std::fwrite(buffer.data(), 1, read, out);
    }
    std::fclose(out);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return ok;
}

int Download(const std::string& mode, INTERNET_PORT port, const fs::path& file) {
    testing_support::TestWindow window;  // Get's progress goes to it
    const auto start = std::chrono::steady_clock::now();
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + kPath;
    const bool ok =
        mode == "get" ? setup::Get({.url = url, .file = &file, .label = L"Bench"}) : BareGet(mode, port, file);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("%d %.4f %zu %zu\n", ok && fs::file_size(file) == std::uintmax_t{kMegabytes} << 20, seconds,
                memory.PeakWorkingSetSize, memory.PeakPagefileUsage);
    return ok ? 0 : 1;
}

struct Sample {
    double seconds = 0, workingSet = 0, privateBytes = 0;
};

// Runs this program in `mode` and reads its one line of figures.
Sample Measure(const std::string& mode, INTERNET_PORT port, const fs::path& file) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string line;
    const std::wstring command =
        setup::Quote(self) + L" " + setup::win::Widen(mode) + L" " + std::to_wstring(port) + L" " + setup::Quote(file);
    const int code = setup::Run(command, {}, [&](const std::string& text) { line = text; });
    int ok = 0;
    Sample sample;
    std::istringstream(line) >> ok >> sample.seconds >> sample.workingSet >> sample.privateBytes;
    if (code != 0 || !ok) {
        std::fprintf(stderr, "get_bench: the %s download failed: %s\n", mode.c_str(), line.c_str());
        std::exit(1);
    }
    return sample;
}

// The best of several runs: on a busy machine, the run that was least disturbed.
double Best(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4) return Download(argv[1], static_cast<INTERNET_PORT>(std::atoi(argv[2])), argv[3]);

    testing_support::TestWindow window;  // Run logs to it
    const testing_support::WorkerJob job;
    testing_support::HttpServer server([](const std::string&) {
        return testing_support::Reply{.body = std::string(1 << 20, 'q'), .repeat = kMegabytes};
    });
    const fs::path file = fs::temp_directory_path() / "quorin-get-bench.bin";

    const char* sides[] = {"get", "query", "read"};
    std::vector<double> time[3], workingSet[3], privateBytes[3];
    for (int round = 0; round < 7; ++round) {
        for (int side = 0; side < 3; ++side) {
            const Sample sample = Measure(sides[side], server.port(), file);
            time[side].push_back(sample.seconds);
            workingSet[side].push_back(sample.workingSet);
            privateBytes[side].push_back(sample.privateBytes);
            window.Take();
        }
    }
    fs::remove(file);

    const double megabyte = 1 << 20;
    std::printf("get_bench: %d MB over loopback into a file, %.0f MB/s: Get/bare WinHTTP time %.2f against the "
                "query-then-read loop (target <= 1.1), %.2f against plain 64 KiB reads; peak working set %+.1f MB, "
                "peak private bytes %+.1f MB against the bare loop (target <= +8 MB)\n",
                kMegabytes, kMegabytes / Best(time[0]), Best(time[0]) / Best(time[1]), Best(time[0]) / Best(time[2]),
                (Best(workingSet[0]) - Best(workingSet[1])) / megabyte,
                (Best(privateBytes[0]) - Best(privateBytes[1])) / megabyte);
}
