// Downloading 256 MB from a loopback server into a file: Get against a bare WinHTTP read loop
// of ours, in the same Wine, alternating. Each download runs in a process of its own (this
// program again, with a mode), so that each side's peak memory is its own.
//
//   get_bench                      the comparison, one line of ratios
//   get_bench get|bare URL FILE    one download; prints seconds, peak working set, peak private bytes
#include "handle.h"
#include "http.h"
#include "processes.h"
#include "support/http_server.h"
#include "support/test_window.h"
#include "text.h"

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

// The reference: the fewest calls that fetch a body into a file.
bool BareGet(const std::wstring& url, const fs::path& file) {
    wchar_t host[256], path[2048];
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    WinHttpCrackUrl(url.c_str(), 0, 0, &parts);
    HINTERNET session = WinHttpOpen(L"bare", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr, 0);
    bool ok = WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr);
    std::FILE* out = _wfopen(file.c_str(), L"wb");
    static char buffer[64 * 1024];
    DWORD read = 0;
    while (ok && WinHttpReadData(request, buffer, sizeof buffer, &read) && read > 0) std::fwrite(buffer, 1, read, out);
    std::fclose(out);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return ok;
}

int Download(const std::string& mode, const std::wstring& url, const fs::path& file) {
    testing_support::TestWindow window;  // Get's progress goes to it
    const auto start = std::chrono::steady_clock::now();
    const bool ok = mode == "get" ? setup::Get(url, nullptr, &file, L"Bench") : BareGet(url, file);
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
Sample Measure(const std::string& mode, const std::wstring& url, const fs::path& file) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string line;
    const int code = setup::Run(setup::Quote(self) + L" " + std::wstring(mode.begin(), mode.end()) + L" " + url + L" " +
                                    setup::Quote(file),
                                {}, [&](const std::string& text) { line = text; });
    int ok = 0;
    Sample sample;
    std::istringstream(line) >> ok >> sample.seconds >> sample.workingSet >> sample.privateBytes;
    if (code != 0 || !ok) {
        std::fprintf(stderr, "get_bench: the %s download failed: %s\n", mode.c_str(), line.c_str());
        std::exit(1);
    }
    return sample;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4) {
        const std::string url = argv[2];
        return Download(argv[1], std::wstring(url.begin(), url.end()), argv[3]);
    }

    testing_support::TestWindow window;  // Run logs to it
    setup::Handle job(CreateJobObjectW(nullptr, nullptr));
    setup::s_job = job.get();
    testing_support::HttpServer server([](const std::string&) {
        return testing_support::Reply{.body = std::string(1 << 20, 'q'), .repeat = kMegabytes};
    });
    const fs::path file = fs::temp_directory_path() / "quorin-get-bench.bin";

    std::vector<double> time[2], workingSet[2], privateBytes[2];
    for (int round = 0; round < 5; ++round) {
        for (int side = 0; side < 2; ++side) {
            const Sample sample = Measure(side == 0 ? "get" : "bare", server.Url("/big.zip"), file);
            time[side].push_back(sample.seconds);
            workingSet[side].push_back(sample.workingSet);
            privateBytes[side].push_back(sample.privateBytes);
            window.Take();
        }
    }
    fs::remove(file);

    const double megabyte = 1 << 20;
    std::printf("get_bench: %d MB over loopback into a file: Get/bare WinHTTP time %.2f (target <= 1.1), %.0f MB/s; "
                "peak working set %+.1f MB, peak private bytes %+.1f MB against the bare loop (target <= +8 MB)\n",
                kMegabytes, Median(time[0]) / Median(time[1]), kMegabytes / Median(time[0]),
                (Median(workingSet[0]) - Median(workingSet[1])) / megabyte,
                (Median(privateBytes[0]) - Median(privateBytes[1])) / megabyte);
}
