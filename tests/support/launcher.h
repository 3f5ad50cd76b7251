// What the launcher test program (programs/launcher.cpp) leaves when it starts: the file it writes
// its folder and arguments to, and the event it sets once it has.
#pragma once

#include "base/text.h"
#include "win/handle.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class LauncherRecord {
public:
    // In `file`, none yet, with an event of its own.
    explicit LauncherRecord(std::filesystem::path file) : file_(std::move(file)) {
        static int count = 0;
        event_ = L"QuorinLauncherStarted-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
        started_.Attach(CreateEventW(nullptr, TRUE, FALSE, event_.c_str()));
        std::error_code error;
        std::filesystem::remove(file_, error);
    }

    // The variables that make a launcher started with them record here.
    std::vector<std::pair<std::wstring, std::wstring>> Variables() const {
        return {{L"QUORIN_LAUNCHER_RECORD", file_.wstring()}, {L"QUORIN_LAUNCHER_EVENT", event_}};
    }

    HANDLE started() const { return started_.get(); }  // set once a launcher has recorded
    const std::filesystem::path& file() const { return file_; }
    // Its folder, then each argument, a line each.
    std::string Text() const { return setup::FileText(file_); }

private:
    std::filesystem::path file_;
    std::wstring event_;
    setup::win::Handle started_;
};

}  // namespace testing_support
