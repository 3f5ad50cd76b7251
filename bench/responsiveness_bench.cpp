// The window under a flood of build output. The real setup window, made and shown as start-up
// makes it (details hidden), runs the program's own message loop on this thread; a worker thread
// does what the install worker does for the build: setup.log open, and RunBuildScript of a child
// that prints build lines. The child prints 200,000 lines, first at 5,000 lines a second, then as
// fast as it can. Meanwhile a probe thread posts a message to the window every 10 ms, noted when
// the window procedure gets it: the time the window takes to answer (input and painting wait
// longer still: they come after every posted message).
//
// Per flood, one line: that latency (p50, p99, max) against an idle window's p99, the lines in
// setup.log and those the window never got, and the time against a bare pipe loop reading the
// same flood. A last line tells where the window's time goes: what a posted message costs the
// loop, a progress message that moves the bar, and a build line's log line, posted as the worker
// posts them (keeping pace with the window); and what an append costs the details box, hidden and
// shown, and shown when lines come a hundred to an append.
//
//   responsiveness_bench     (QUORIN_CHILD_EXE names the test child, as ./dev bench sets it)
#include "base/lines.h"
#include "base/text.h"
#include "globals.h"
#include "report.h"
#include "support/host_path.h"
#include "support/sandbox.h"
#include "window/controls.h"
#include "window/runs.h"
#include "window/window.h"
#include "worker/programs.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kLines = 200000;
constexpr DWORD kProbeEvery = 10;  // ms

using Clock = std::chrono::steady_clock;

LPARAM Now() { return static_cast<LPARAM>(Clock::now().time_since_epoch().count()); }

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

// What the window procedure got. (A message hook would do too, but under Wine each call of one
// costs a trip to the server, several times what the loop spends on a message.)
struct Seen {
    std::vector<double> latencies;  // ms from each probe's post to the window procedure
    std::size_t shownLines = 0;     // lines put into the details box
} s_seen;
WNDPROC s_windowProc = nullptr, s_detailsProc = nullptr;  // the setup window's own, the details box's

// Stands in front of the setup window's procedure.
LRESULT CALLBACK Noting(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NULL && lParam != 0) s_seen.latencies.push_back(Milliseconds(Clock::duration(Now() - lParam)));
    return CallWindowProcW(s_windowProc, window, message, wParam, lParam);
}

// Stands in front of the details box's procedure: counts the line ends put in.
LRESULT CALLBACK NotingDetails(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == EM_REPLACESEL) {
        const std::wstring_view text = reinterpret_cast<const wchar_t*>(lParam);
        s_seen.shownLines += static_cast<std::size_t>(std::count(text.begin(), text.end(), L'\n'));
    }
    return CallWindowProcW(s_detailsProc, box, message, wParam, lParam);
}

// The setup window as start-up makes and shows it, its details box open or not.
void Open(bool details) {
    setup::s_cancel = false;
    setup::s_showLog = details;
    setup::StartUp({L"QuorinSetup.exe"}, SW_SHOWNORMAL);
}

// Closes the window as a user would; posted, so handled after every message posted before.
void Close() { PostMessageW(setup::s_window, WM_CLOSE, 0, 0); }

// The program's message loop, until the window is gone (its close handler joins the worker
// first), and the program's shut-down.
void RunUntilClosed() {
    setup::MessageLoop();
    setup::ShutDown();
}

// The window while `work` runs on the worker thread, probed, and closed after every message the
// work posted. Returns the seconds from the worker's start to the loop's end.
double Probed(const std::function<void()>& work) {
    s_seen = {};
    Open(false);
    s_windowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(setup::s_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Noting)));
    s_detailsProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        setup::Control(setup::kDetails), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NotingDetails)));
    std::atomic<bool> ended{false};
    std::thread probe([&ended, window = setup::s_window] {
        for (; !ended; Sleep(kProbeEvery)) PostMessageW(window, WM_NULL, 0, Now());
    });
    const auto start = Clock::now();
    setup::s_worker = std::thread([&work] {
        setup::KeepPace();  // as the install worker does
        work();
        Close();
    });
    RunUntilClosed();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ended = true;
    probe.join();
    return seconds;
}

// The build's part of a run: the child run as the build script is, logged to setup.log in
// `folder`, opened as the install opens it.
void Build(const std::wstring& command, const fs::path& folder) {
    setup::OpenLog(folder / "setup.log");
    try {
        setup::RunBuildScript(command, folder);
    } catch (const setup::Failed& failed) {
        std::fprintf(stderr, "responsiveness_bench: %ls\n", failed.message.c_str());
    }
    setup::CloseLog();
}

// The reference: the same flood read by a bare pipe loop. Returns the seconds taken, and the
// lines that the setup logs (all but the progress lines).
double Bare(const std::wstring& command, std::size_t& logged) {
    const auto start = Clock::now();
    testing_support::Program child(command, {.output = true});
    const std::string output = child.ReadAll();
    child.Wait();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::string pending;
    logged = 0;
    setup::SplitLines(pending, output, [&logged](const std::string& line) { logged += !setup::IsProgressLine(line); });
    return seconds;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(values.size() * share))];
}

// Milliseconds a line that the open window's details box takes for `count` build lines,
// `together` of them to an append.
double AppendCost(int count, int together) {
    const std::vector<std::wstring> lines(
        together, L"[ 123456/ 200000] Building CXX object src/ppc/ppc_recomp.123456.cpp.obj......");
    const auto start = Clock::now();
    for (int i = 0; i < count; i += together) setup::AppendDetails(lines);
    return Milliseconds(Clock::now() - start) / count;
}

// Milliseconds the window takes for what the worker posts, as it posts it: each of 20,000 times,
// `post` with the number of the time.
double PostCost(const std::function<void(int)>& post) {
    constexpr int kTimes = 20000;
    return Probed([&post] {
        for (int i = 0; i < kTimes; ++i) post(i);
    }) * 1000 / kTimes;
}

}  // namespace

int main() {
    const std::wstring child = testing_support::HostPath("QUORIN_CHILD_EXE");
    if (child.empty()) {
        std::fprintf(stderr, "responsiveness_bench: QUORIN_CHILD_EXE doesn't name the test child\n");
        return 1;
    }
    const fs::path folder = fs::temp_directory_path() / "quorin-responsiveness-bench";
    fs::create_directories(folder);

    Probed([] { Sleep(2000); });
    const double idle = Percentile(s_seen.latencies, 0.99);

    for (unsigned long rate : {5000ul, 0ul}) {
        const std::wstring command =
            setup::Quote(child) + L" --rate " + std::to_wstring(rate) + L" --build " + std::to_wstring(kLines);
        std::size_t logged = 0;
        const double bare = Bare(command, logged);
        ++logged;  // Run logs the command line first
        fs::remove(folder / "setup.log");
        const double ours = Probed([&] { Build(command, folder); });
        const std::string log = testing_support::FileText((folder / "setup.log").wstring());
        const auto inLog = static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
        const std::string flood = rate ? "at " + std::to_string(rate) + " a second" : "as fast as it can";
        const double p99 = Percentile(s_seen.latencies, 0.99);
        std::printf("responsiveness_bench: %lu lines %s: the window answers in p50 %.0f ms, p99 %.0f ms, max %.0f ms "
                    "(%.0fx an idle window's p99 of %.2f ms); setup.log %zu of %zu lines; details box missing %zu; "
                    "%.1f s, %.2fx a bare pipe loop\n",
                    kLines, flood.c_str(), Percentile(s_seen.latencies, 0.5), p99, Percentile(s_seen.latencies, 1),
                    p99 / idle, idle, inLog, logged, logged - std::min(logged, s_seen.shownLines), ours, ours / bare);
        std::fflush(stdout);
    }
    fs::remove_all(folder);

    const double message = PostCost([](int) { PostMessageW(setup::s_window, WM_NULL, 0, 0); });
    const double progress = PostCost([](int i) { setup::PostProgress(i % 101); });
    const double line = PostCost([](int i) {
        setup::Log(L"[" + std::to_wstring(i) + L"/200000] Building CXX object");
    });
    Open(false);
    const double hidden = AppendCost(500, 1);
    AppendCost(4000, 1);  // towards the box's cap
    const double hiddenFull = AppendCost(500, 1);
    Close();
    RunUntilClosed();
    Open(true);
    const double shown = AppendCost(200, 1), shownTogether = AppendCost(2000, 100);
    Close();
    RunUntilClosed();
    std::printf("responsiveness_bench: where the window's time goes: %.3f ms a posted message, %.3f ms a progress message "
                "that moves the bar, %.3f ms a build line's log line (its unchanged progress isn't posted); a line in "
                "the details box %.2f ms hidden (%.2f ms near its cap), %.2f ms shown, %.3f ms shown when they come 100 "
                "to an append\n",
                message, progress, line, hidden, hiddenFull, shown, shownTogether);
    return 0;
}
