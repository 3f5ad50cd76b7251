// What the install worker's code needs around it in a test program or a benchmark: the job that
// its child processes run in, and a way to read the sentence that a step fails with.
#pragma once

#include "globals.h"
#include "report.h"
#include "win/handle.h"
#include "win/processes.h"

#include <windows.h>

#include <string>

namespace testing_support {

// A job as start-up makes it, held in s_job while this lives: every process in it dies with it.
struct WorkerJob {
    WorkerJob() { setup::s_job = setup::win::NewJob(); }
    ~WorkerJob() { setup::s_job.Close(); }
    WorkerJob(const WorkerJob&) = delete;
    WorkerJob& operator=(const WorkerJob&) = delete;
};

// The message that `work` fails with, or "" when it goes through.
template <typename Work>
std::wstring FailureOf(Work work) {
    try {
        work();
    } catch (const setup::Failed& failed) {
        return setup::Logged(failed);
    }
    return L"";
}

}  // namespace testing_support
