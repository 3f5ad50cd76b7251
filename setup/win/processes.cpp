#include "win/processes.h"

#include "base/find.h"
#include "base/lines.h"
#include "win/environment.h"

#include <windows.h>

#include <atomic>
#include <vector>

namespace fs = std::filesystem;

namespace setup::win {
namespace {

// How long the output is still read once the program has ended.
constexpr ULONGLONG kAfterExit = 2000;

// The program that a command line starts. CreateProcessW would look for a bare name in this
// program's own folder and the current folder before the PATH: a git.exe lying beside Setup in a
// Downloads folder would run instead of Git.
fs::path ProgramOf(const std::wstring& commandLine) {
    const bool quoted = commandLine.starts_with(L'"');
    const std::wstring first = quoted ? commandLine.substr(1, commandLine.find(L'"', 1) - 1)
                                      : commandLine.substr(0, commandLine.find(L' '));
    if (first.find_first_of(L"\\/:") != std::wstring::npos) return first;
    const fs::path name = fs::path(first).has_extension() ? first : first + L".exe";
    return FindOnPath(Variable(L"PATH"), name.c_str());
}

// A pipe for the child's output: the read end ours, overlapped, so that a read can be waited for
// together with the program's end; the write end inheritable, for the child alone.
bool MakePipe(FileHandle& read, FileHandle& write) {
    static std::atomic<unsigned> s_count{0};
    const std::wstring name = L"\\\\.\\pipe\\QuorinSetup-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++s_count);
    read.Attach(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0, nullptr));
    if (!read) return false;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    write.Attach(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(write);
}

// Handles the child inherits: the pipe's write end and, when it is one to inherit, our standard
// input. Nothing else of ours, such as setup.log, reaches the child or what it leaves running.
class InheritOnly {
public:
    InheritOnly(HANDLE output, HANDLE input) {
        handles_[count_++] = output;
        DWORD flags = 0;
        if (input && input != INVALID_HANDLE_VALUE && GetHandleInformation(input, &flags) && (flags & HANDLE_FLAG_INHERIT))
            handles_[count_++] = input;
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
            list_ = nullptr;
        } else if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                              count_ * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~InheritOnly() {
        if (list_) DeleteProcThreadAttributeList(list_);
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }  // null when it couldn't be made
    HANDLE input() const { return count_ > 1 ? handles_[1] : nullptr; }

private:
    HANDLE handles_[2] = {};
    DWORD count_ = 0;
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// One overlapped read of the output at a time. A read still pending when this goes (a line
// callback threw, or the program ended with something else holding the pipe) is cancelled and
// waited for, since the system writes into `buffer` and `overlapped` until it is done.
struct Reading {
    HANDLE pipe;
    Handle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped{};
    char buffer[4096];
    bool pending = false;
    ULONGLONG ended = 0;  // when the program was seen to end

    ~Reading() { Stop(); }
    void Stop() {
        DWORD ignored = 0;
        if (pending && CancelIoEx(pipe, &overlapped)) GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
        pending = false;
    }
};

// The next piece of output, in reading.buffer: its size, or 0 at the end. The end is when every
// writer has gone, or kAfterExit after `process` ended: something it left running may hold the
// pipe for ever.
DWORD ReadSome(Reading& reading, HANDLE process) {
    reading.overlapped = {};
    reading.overlapped.hEvent = reading.event.get();
    if (!ReadFile(reading.pipe, reading.buffer, sizeof reading.buffer, nullptr, &reading.overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return 0;  // the pipe is broken: every writer has gone
    reading.pending = true;
    if (!reading.ended) {
        const HANDLE either[] = {process, reading.event.get()};  // the end first: a flood can't hide it
        if (WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0) reading.ended = GetTickCount64();
    }
    if (reading.ended) {
        const ULONGLONG since = GetTickCount64() - reading.ended;
        if (since >= kAfterExit ||
            WaitForSingleObject(reading.event.get(), static_cast<DWORD>(kAfterExit - since)) != WAIT_OBJECT_0)
            return 0;
    }
    DWORD count = 0;
    const bool done = GetOverlappedResult(reading.pipe, &reading.overlapped, &count, FALSE);
    reading.pending = !done && GetLastError() == ERROR_IO_INCOMPLETE;
    return done ? count : 0;
}

// Starts `commandLine` in `folder` into `process`, with `output` for its standard output and
// error, and lets it run once it is in `job`: whatever it starts is in the job too. One that
// can't be put there would be out of a cancel's reach: it never runs (kNotStarted).
Ran Start(const std::wstring& commandLine, const fs::path& folder, FileHandle output, HANDLE job, Handle& process) {
    const fs::path program = ProgramOf(commandLine);
    if (program.empty()) return {Ran::kNotStarted, 1, ERROR_FILE_NOT_FOUND};
    const InheritOnly inherited(output.get(), GetStdHandle(STD_INPUT_HANDLE));
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = inherited.input();
    startup.StartupInfo.hStdOutput = output.get();
    startup.StartupInfo.hStdError = output.get();
    startup.lpAttributeList = inherited.list();
    std::wstring writable = commandLine;  // CreateProcessW may write into its command line
    PROCESS_INFORMATION started{};
    const BOOL ok = inherited.list() &&
                    CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, TRUE,
                                   CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                   folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &started);
    const DWORD why = GetLastError();
    // From here on only the child's copy keeps the write end open: the pipe ends with the last
    // process of the tree that holds one.
    output.Close();
    if (!ok) return {Ran::kNotStarted, 1, why};
    process.Attach(started.hProcess);
    const Handle thread(started.hThread);
    if (!AssignProcessToJobObject(job, process.get())) {
        const DWORD refused = GetLastError();
        TerminateProcess(process.get(), 1);
        return {Ran::kNotStarted, 1, refused};
    }
    ResumeThread(thread.get());
    return {};
}

// Hands the output to `line`, line by line, until its end (see ReadSome).
void ReadLines(Reading& reading, HANDLE process, const OutputCallback& line) {
    const LineCallback ended = [&line](const std::string& text) { line(text, false); };
    std::string pending;
    for (DWORD count; (count = ReadSome(reading, process)) > 0;) SplitLines(pending, {reading.buffer, count}, ended);
    if (!pending.empty()) line(pending, true);
}

}  // namespace

Handle NewJob() {
    Handle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        job.Close();  // a job that doesn't end its processes would leave them running
    return job;
}

Ran Run(const std::wstring& commandLine, const fs::path& folder, const OutputCallback& line,
        const RunContext& context) {
    // A cancel that came between two programs: the job was emptied before this one, and would
    // let it run to its end.
    if (context.cancel && *context.cancel) return {Ran::kCancelled};
    context.log(L"$ " + commandLine);

    FileHandle read, write;
    Reading reading{};
    if (!MakePipe(read, write) || !reading.event) return {Ran::kNoPipe, 1, GetLastError()};
    reading.pipe = read.get();
    Handle process;
    const Ran started = Start(commandLine, folder, std::move(write), context.job, process);
    if (started.error != Ran::kNone) return started;
    ReadLines(reading, process.get(), line);

    // Whatever still writes now gets a broken pipe, rather than waiting for ever for a reader.
    reading.Stop();
    read.Close();
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(process.get(), &code)) code = 1;
    const bool cancelled = context.cancel && *context.cancel;
    return {cancelled ? Ran::kCancelled : Ran::kNone, static_cast<int>(code)};
}

}  // namespace setup::win
