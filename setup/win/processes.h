// Running a child program hidden inside a job object, its output streamed line by line to the
// caller. Called on the install worker's thread (the tests' own too); nothing here knows the
// window: what a run needs of the program around it comes in a RunContext.
#pragma once

#include "win/handle.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

namespace setup::win {

// A new job object whose processes all end when its last handle is closed; empty when the system
// wouldn't make one.
Handle NewJob();

// What a run takes from its caller.
struct RunContext {
    std::function<void(const std::wstring&)> log;  // gets "$ " + the command line, before the start
    const std::atomic<bool>* cancel = nullptr;      // set: the run counts as cancelled once it ends
    HANDLE job = nullptr;                            // every program runs in it, with all it starts
};

// How a run ended: with the program's exit code, or without a run.
struct Ran {
    enum Error { kNone, kNoPipe, kNotStarted, kCancelled } error = kNone;
    int code = 1;       // the exit code, also when the run was cancelled after it
    DWORD system = 0;   // for kNoPipe and kNotStarted: the system's error
};

// A line of a child's output; `last` for a piece without a line end that the output ended with.
using OutputCallback = std::function<void(const std::string& line, bool last)>;

// Runs `commandLine` in `folder`, or in the current folder when `folder` is empty. The program is
// the command line's first word: a path, or a bare name (git, python) that is looked for in the
// PATH's folders alone, never in this program's own folder or the current one, where anything may
// lie. Only the output pipe and standard input reach the child. Standard output and error arrive
// merged, cut into non-empty lines (see SplitLines), and every one goes to `line`; what becomes of
// them is the caller's. The log gets "$ " + the command line before the start, and nothing else.
// Once `cancel` is set, no program starts: kCancelled at once, with nothing logged. Returns once
// the program has ended and its output is read; what it left running (which may hold the output
// for ever) is given about 2 s more, then stays in the job.
//
// kNotStarted also when the child can't be put into the job, which would leave it out of a
// cancel's reach: it never runs. An exception from `line` leaves at once; the child then ends with
// its broken pipe, or with the job.
Ran Run(const std::wstring& commandLine, const std::filesystem::path& folder, const OutputCallback& line,
        const RunContext& context);

}  // namespace setup::win
