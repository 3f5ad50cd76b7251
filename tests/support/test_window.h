// A hidden message-only window of the test's own that stands in for the setup window: s_window
// points at it while it lives, and Take collects what the worker code reported to it.
#pragma once

#include "globals.h"
#include "report.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// One report, a log line each.
struct Posted {
    setup::Report::Kind kind;
    int value;          // the progress percentage; 1 for a finished run that succeeded
    std::wstring text;  // the line, status or final message
};

class TestWindow {
public:
    TestWindow() {
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        setup::s_window = window_;
    }
    ~TestWindow() {
        Take();
        DestroyWindow(window_);  // later posts fail, and the poster frees their strings
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // Everything reported so far, in order, taken as the window procedure takes it: the worker
    // may report more.
    std::vector<Posted> Take() {
        std::vector<Posted> posted;
        for (setup::Report report; setup::NextReport(window_, report);) {
            if (report.kind == setup::Report::kLines)
                for (std::wstring& line : report.lines) posted.push_back({report.kind, 0, std::move(line)});
            else
                posted.push_back({report.kind, report.kind == setup::Report::kProgress ? report.percent : report.success,
                                  std::move(report.text)});
        }
        return posted;
    }

    // Only the log lines reported so far (the rest is dropped).
    std::vector<std::wstring> LogLines() {
        std::vector<std::wstring> lines;
        for (Posted& item : Take())
            if (item.kind == setup::Report::kLines) lines.push_back(std::move(item.text));
        return lines;
    }

private:
    HWND window_ = nullptr;
};

}  // namespace testing_support
