// Driving the real setup window from a program of ours: pumped like the message loop, and its
// message boxes read and answered from a helper thread, as a person would.
#pragma once

#include "globals.h"
#include "support/picture.h"
#include "support/program.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

// Runs the window's messages until `done` holds; false if it still doesn't after `timeout` ms.
// `done` is looked at after each message, and when `wake` (if any) is signalled.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeout = 30000, HANDLE wake = nullptr) {
    const ULONGLONG end = GetTickCount64() + timeout;
    while (!done()) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageW(setup::s_window, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (done()) return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(wake ? 1 : 0, &wake, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
    return true;
}

// Looks at `done` every `poll` ms, without running messages, until it holds; false if it still
// doesn't after `limit` ms.
inline bool WaitUntil(DWORD limit, const std::function<bool()>& done, DWORD poll = 10) {
    for (const ULONGLONG end = GetTickCount64() + limit; !done(); Sleep(poll))
        if (GetTickCount64() > end) return false;
    return true;
}

// Runs every message waiting now.
inline void PumpWaiting() {
    bool idle = false;
    PostMessageW(setup::s_window, WM_NULL, 0, 0);
    MSG message;
    while (!idle && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        idle = message.message == WM_NULL && message.hwnd == setup::s_window;
        DispatchMessageW(&message);
    }
}

// A message box as the user saw it.
struct Box {
    std::wstring caption;
    std::wstring text;
    std::wstring icon;  // "warning", "information", "question", "error" or ""
    bool yesNo = false;
};

// A message box that `owner` shows (with none, one of this program's), or null.
inline HWND BoxOf(HWND owner) {
    DWORD process = GetCurrentProcessId();
    if (owner) GetWindowThreadProcessId(owner, &process);
    return FindWindowOf(process, [owner](HWND window) {
        return ClassOf(window) == L"#32770" && GetWindow(window, GW_OWNER) == owner && IsWindowVisible(window);
    });
}

// Which standard icon a box shows, told by its pixels on the screen (another program's icon
// handle means nothing in this one): once it has been drawn, and isn't covered by a window of
// another test on the same desktop.
inline std::wstring IconOf(HWND box) {
    HWND icon = nullptr;  // the label that shows it
    EnumChildWindows(
        box,
        [](HWND control, LPARAM lParam) {
            if (ClassOf(control) == L"Static" && (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                *reinterpret_cast<HWND*>(lParam) = control;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&icon));
    RECT area{};
    if (!GetWindowRect(icon, &area) || area.right <= area.left) return L"";
    const std::pair<const wchar_t*, LPCWSTR> kinds[] = {
        {L"warning", IDI_WARNING}, {L"information", IDI_INFORMATION}, {L"question", IDI_QUESTION}, {L"error", IDI_ERROR}};
    const wchar_t* found = L"?";
    WaitUntil(2000, [&] {
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        const Picture seen = Grab(area);
        for (const auto& [name, id] : kinds)
            if (Difference(seen, Grab(area, LoadIconW(nullptr, id), seen.pixels.front() & 0xffffff)) < 2) found = name;
        return *found != L'?';
    });
    return found;
}

inline Box ReadBox(HWND box) {
    return {TextOf(box), TextOf(GetDlgItem(box, 0xFFFF)),  // the message's label in every message box
            IconOf(box), GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO)};
}

// Presses a button of a box, and waits for the box to go.
inline void Press(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    WaitUntil(30000, [box] { return !IsWindow(box); }, 5);
}

// Answers the next message boxes owned by the setup window, one for each answer given, from a
// thread of its own: the boxes are modal on the thread that shows them.
class BoxAnswerer {
public:
    // `look` sees each box before it is answered.
    explicit BoxAnswerer(std::vector<int> answers, std::function<void(HWND box)> look = {})
        : owner_(setup::s_window), answers_(std::move(answers)), look_(std::move(look)), thread_([this] { Answer(); }) {}
    ~BoxAnswerer() { Stop(); }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    // The boxes answered; waits (up to 20 s each) for those still expected.
    const std::vector<Box>& Seen() {
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

    // The boxes answered so far, expecting no more.
    const std::vector<Box>& Stop() {
        stop_ = true;
        return Seen();
    }

private:
    void Answer() {
        for (int answer : answers_) {
            HWND box = nullptr;
            // No event tells when another thread's box shows.
            WaitUntil(20000, [&] { return (box = BoxOf(owner_)) || stop_; }, 5);
            if (!box) return;
            seen_.push_back(ReadBox(box));
            if (look_) look_(box);
            Press(box, answer);
        }
    }

    HWND owner_;
    std::vector<int> answers_;
    std::function<void(HWND)> look_;
    std::vector<Box> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testing_support
