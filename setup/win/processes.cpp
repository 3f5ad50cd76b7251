#include "processes.h"

#include "globals.h"
#include "handle.h"
#include "report.h"
#include "text.h"

#include <windows.h>

namespace setup {

HANDLE NewJob() {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

int Run(const std::wstring& commandLine, const std::filesystem::path& folder, const LineCallback& line) {
    Log(L"$ " + commandLine);

    // Only the write end is inherited: the read end in the child would keep the pipe open.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle read, write;
    if (!CreatePipe(read.Receive(), write.Receive(), &inherit, 0)) Fail(L"Couldn't create a pipe.");
    SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write.get();
    startup.hStdError = write.get();
    std::wstring writable = commandLine;  // CreateProcessW may write into its command line
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                                   nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &started);
    // From here on only the child's copies keep the write end open: the pipe ends with the last
    // process of the tree that holds one.
    write.Close();
    if (!ok) Fail(L"Couldn't start: " + commandLine);
    const Handle process(started.hProcess), thread(started.hThread);

    // In the job before it runs an instruction, so whatever it starts is in the job too.
    AssignProcessToJobObject(s_job, process.get());
    ResumeThread(thread.get());

    const auto deliver = [&](const std::string& text) {
        if (line) line(text);
        if (!IsProgressLine(text)) Log(Widen(text));
    };
    std::string pending;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(read.get(), buffer, sizeof buffer, &count, nullptr) && count > 0)
        SplitLines(pending, {buffer, count}, deliver);
    if (!pending.empty()) {  // the unterminated last piece is always logged
        if (line) line(pending);
        Log(Widen(pending));
    }
    read.Close();

    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(process.get(), &code)) code = 1;
    CheckCancel();
    return static_cast<int>(code);
}

bool GitOutput(const std::filesystem::path& repository, const std::wstring& arguments, std::string& output) {
    output.clear();
    const auto keepFirst = [&](const std::string& line) {
        if (output.empty()) output = line;
    };
    return Run(L"git -C " + Quote(repository) + L" " + arguments, repository, keepFirst) == 0;
}

}  // namespace setup
