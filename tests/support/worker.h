// What the install worker's code needs around it in a test program: the job that its child
// processes run in, and a way to read the sentence that a step fails with.
#pragma once

#include "globals.h"
#include "handle.h"
#include "report.h"

#include <windows.h>

#include <string>

namespace testing_support {

// A job as start-up makes it, set as s_job: every process in it dies when it closes.
inline setup::Handle WorkerJob() {
    setup::Handle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    setup::s_job = job.get();
    return job;
}

// The message that `work` fails with, or "(no failure)".
template <typename Work>
std::wstring FailureOf(Work work) {
    try {
        work();
    } catch (const setup::Failed& failed) {
        return failed.message;
    }
    return L"(no failure)";
}

}  // namespace testing_support
