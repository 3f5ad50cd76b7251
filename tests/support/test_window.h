// A hidden message-only window of the test's own that stands in for the setup window: s_window
// points at it while it lives, and Take collects what the worker code posted to it.
#pragma once

#include "globals.h"
#include "report.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct Posted {
    UINT message;
    int value;          // the progress percentage
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

    // Everything posted so far, in order, handled as the window procedure would: the strings are
    // deleted, and the worker may post more.
    std::vector<Posted> Take() {
        std::vector<Posted> posted;
        MSG message;
        while (PeekMessageW(&message, window_, setup::kLogLineMessage, setup::kFinishedMessage, PM_REMOVE)) {
            setup::Handled(1);
            Posted item{message.message, static_cast<int>(message.wParam), {}};
            if (message.message != setup::kProgressMessage) {
                auto* text = reinterpret_cast<std::wstring*>(message.lParam);
                item.text = std::move(*text);
                delete text;
            }
            posted.push_back(std::move(item));
        }
        return posted;
    }

    // Only the log lines posted so far (the rest is dropped).
    std::vector<std::wstring> LogLines() {
        std::vector<std::wstring> lines;
        for (Posted& item : Take())
            if (item.message == setup::kLogLineMessage) lines.push_back(std::move(item.text));
        return lines;
    }

private:
    HWND window_ = nullptr;
};

}  // namespace testing_support
