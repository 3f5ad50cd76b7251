// Driving the real setup window from a program of ours: pumped like the message loop, and its
// message boxes read and answered from a helper thread, as a person would.
#pragma once

#include "globals.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
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
    std::wstring icon;  // "warning", "information", "question" or ""
    bool yesNo = false;
};

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
    struct Search {
        HWND owner;
        HWND found = nullptr;
    };

    static BOOL CALLBACK Match(HWND window, LPARAM lParam) {
        auto* search = reinterpret_cast<Search*>(lParam);
        wchar_t type[16] = L"";
        GetClassNameW(window, type, 16);
        if (std::wstring(type) != L"#32770" || GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window))
            return TRUE;
        search->found = window;
        return FALSE;
    }

    static BOOL CALLBACK FindIcon(HWND control, LPARAM lParam) {
        wchar_t type[16] = L"";
        GetClassNameW(control, type, 16);
        if (lstrcmpiW(type, L"Static") == 0 && (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            *reinterpret_cast<HICON*>(lParam) = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
        return TRUE;
    }

    static Box Read(HWND box) {
        Box seen;
        wchar_t text[2048] = L"";
        GetWindowTextW(box, text, 2048);
        seen.caption = text;
        GetDlgItemTextW(box, 0xFFFF, text, 2048);  // the message's label in every message box
        seen.text = text;
        HICON icon = nullptr;
        EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&icon));
        seen.icon = icon == LoadIconW(nullptr, IDI_WARNING)       ? L"warning"
                    : icon == LoadIconW(nullptr, IDI_INFORMATION) ? L"information"
                    : icon == LoadIconW(nullptr, IDI_QUESTION)    ? L"question"
                                                                  : L"";
        seen.yesNo = GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO);
        return seen;
    }

    void Answer() {
        for (int answer : answers_) {
            Search search{owner_};
            WaitUntil(20000, [&] {  // no event tells when another thread's box shows
                EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
                return search.found || stop_;
            }, 5);
            if (!search.found) return;
            seen_.push_back(Read(search.found));
            if (look_) look_(search.found);
            PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(search.found, answer)));
            WaitUntil(20000, [&] { return !IsWindow(search.found); }, 5);
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
