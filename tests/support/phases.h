// The install worker's phases run in the test process against the sandbox: a job for their
// child processes, a TestWindow that collects what they post, the bridge's stand-ins for git,
// Python, CMake, Ninja and Clang on PATH, and real git to put clones of the project into states
// of their own.
#pragma once

#include "support/fixture.h"
#include "support/sandbox.h"
#include "support/sandbox_tools.h"
#include "support/scratch.h"
#include "support/test_window.h"
#include "support/worker.h"
#include "win/convert.h"
#include "window/runs.h"
#include "worker/services.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

class SandboxPhase : public WorkerTest {
protected:
    static void SetUpTestSuite() {
        tools_ = std::make_unique<Scratch>();
        const std::wstring folder = tools_->root().wstring();
        for (const SandboxTool& tool : kSandboxTools) StandIn(folder, tool.exe);
        path_ = std::make_unique<PathPrefix>(folder);
    }
    static void TearDownTestSuite() {
        path_.reset();
        tools_.reset();
    }

    void SetUp() override {
        WorkerTest::SetUp();
        SetFaults("");
        ClearRequests();
    }
    void TearDown() override {
        WorkerTest::TearDown();
        SetFaults("");
    }

    // A fresh clone of the project, on branch main, at `repo` (made by real git, not the setup).
    static void Clone(const std::filesystem::path& repo) {
        const Finished clone = RunProgram(L"git clone -q " + RepoUrl() + L" " + Quote(repo));
        ASSERT_EQ(clone.code, 0) << clone.output;
    }

    // Real git on a clone, to put it into a state of its own; fails the test if git does.
    static void Git(const std::filesystem::path& repo, const std::wstring& arguments) {
        const Finished git = RunProgram(L"git -C " + Quote(repo) + L" " + arguments);
        EXPECT_EQ(git.code, 0) << Utf8(arguments) << "\n" << git.output;
    }

    // The log lines that the program wrote itself, in order: statuses, command lines and those
    // beginning with one of `own`; not the tools' output.
    std::vector<std::wstring> Story(const std::vector<std::wstring>& own) {
        std::vector<std::wstring> story;
        for (std::wstring& line : window_.LogLines()) {
            bool keep = line.starts_with(L"== ") || line.starts_with(L"$ ");
            for (const std::wstring& start : own) keep = keep || line.starts_with(start);
            if (keep) story.push_back(std::move(line));
        }
        return story;
    }

    // Runs `phase` on a thread of its own, as the install worker does, and presses Cancel as the
    // window does at the first log line that starts with `start`; gives the failure it ends with
    // and the lines it logged. It ends only after what it ran: nothing is left in the job.
    std::pair<std::wstring, std::vector<std::wstring>> CancelAt(const std::wstring& start,
                                                                const std::function<void()>& phase) {
        std::wstring failure;
        std::atomic<bool> ended = false;
        std::thread worker([&] {
            failure = FailureOf(phase);
            ended = true;
        });
        std::vector<std::wstring> log;
        for (bool last = false; !last;) {
            last = ended;  // then one more look takes all it posted
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
            for (std::wstring& line : window_.LogLines()) {
                if (line.starts_with(start)) setup::Cancel();
                log.push_back(std::move(line));
            }
        }
        worker.join();
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job{};
        QueryInformationJobObject(setup::s_job.get(), JobObjectBasicAccountingInformation, &job, sizeof job, nullptr);
        EXPECT_EQ(job.ActiveProcesses, 0u) << "processes of the phase still alive in its job";
        return {failure, log};
    }

    testing_support::WorkerJob job_;
    TestWindow window_;
    Scratch scratch_;

private:
    static inline std::unique_ptr<Scratch> tools_;
    static inline std::unique_ptr<PathPrefix> path_;
};

}  // namespace testing_support
