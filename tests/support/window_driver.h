// The real setup window in a test, made exactly as start-up makes it.
#pragma once

#include "globals.h"
#include "support/fixture.h"
#include "support/message_boxes.h"
#include "support/program.h"
#include "support/worker.h"
#include "window/controls.h"
#include "window/window.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

// Each test gets a fresh window, made exactly as start-up makes it, and closes it at the end.
class SetupWindow : public WorkerTest {
protected:
    void Open(const std::vector<std::wstring>& args = {L"QuorinSetup.exe"}) {
        // Not shown: with no window manager (Xvfb), Wine waits 2 s for one whenever a shown window
        // goes away. Everything else is as start-up makes it for the program.
        setup::StartUp(args, SW_HIDE);
        opened_ = true;
    }

    // Waits for the run to end, answering its boxes in order; returns the boxes seen.
    std::vector<Box> Finish(std::vector<int> answers) {
        BoxAnswerer answerer(std::move(answers));
        EXPECT_TRUE(PumpUntil([] { return !setup::s_busy; })) << "the run didn't end";
        return answerer.Seen();
    }

    void TearDown() override {
        Close();
        WorkerTest::TearDown();
    }

    void Close() {
        if (!opened_) return;
        opened_ = false;
        if (setup::s_busy) {  // a test that failed in the middle of a run
            BoxAnswerer stop({IDYES});
            SendMessageW(setup::s_window, WM_CLOSE, 0, 0);
        } else if (IsWindow(setup::s_window)) {
            SendMessageW(setup::s_window, WM_CLOSE, 0, 0);
        }
        MSG message;  // the quit message and whatever else the window left behind
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        setup::ShutDown();
    }

    bool opened_ = false;
};

inline SIZE ClientSize() {
    RECT client{};
    GetClientRect(setup::s_window, &client);
    return {client.right, client.bottom};
}

inline bool Visible(int id) { return (GetWindowLongW(setup::Control(id), GWL_STYLE) & WS_VISIBLE) != 0; }

// The window's controls in tab order, which is the order they were made in.
inline std::vector<HWND> Controls() {
    std::vector<HWND> controls;
    for (HWND control = GetWindow(setup::s_window, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT))
        controls.push_back(control);
    return controls;
}

// What a control is to the user, as its class and style make it.
inline std::wstring KindOf(HWND control) {
    const std::wstring type = ClassOf(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (lstrcmpiW(type.c_str(), L"Button") == 0) {
        switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON: return L"button";
        case BS_DEFPUSHBUTTON: return L"default button";
        case BS_AUTOCHECKBOX: return L"check box";
        case BS_AUTORADIOBUTTON: return L"radio button";
        case BS_GROUPBOX: return L"group box";
        }
    } else if (lstrcmpiW(type.c_str(), L"Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) return L"icon";
        const bool cut = (style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP && (style & SS_ELLIPSISMASK) == SS_ENDELLIPSIS;
        return cut ? L"one line cut short" : L"label";
    } else if (lstrcmpiW(type.c_str(), L"Edit") == 0) {
        const LONG text = ES_MULTILINE | ES_READONLY | WS_VSCROLL;
        return (style & text) == text ? L"read-only text" : L"edit";
    } else if (lstrcmpiW(type.c_str(), PROGRESS_CLASSW) == 0) {
        return L"progress bar";
    }
    return type;
}

}  // namespace testing_support
