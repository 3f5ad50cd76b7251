// A whole run of the install worker in the test process, against the sandbox: every phase in its
// place, from the header of setup.log to the final message.
#include "maintenance/layout.h"
#include "support/messages.h"
#include "support/phases.h"
#include "window/choices.h"
#include "window/runs.h"
#include "worker/install.h"
#include "worker/phases/build.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// Whether `text` holds the `parts` in this order.
bool InOrder(const std::string& text, const std::vector<std::string>& parts) {
    std::size_t at = 0;
    for (const std::string& part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos) return false;
        at += part.size();
    }
    return true;
}

class Pipeline : public SandboxPhase {
protected:
    // Runs a whole install on a worker thread, as the Install button does, and presses Cancel
    // when the window is shown what `moment` looks for; gives the finished message.
    Posted CancelAt(const setup::Choices& choices, const std::function<bool(const Posted&)>& moment) {
        std::thread worker(setup::Install, choices);
        Posted finished{};
        for (bool cancelled = false; finished.kind != setup::Report::kFinished;) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_POSTMESSAGE);
            for (Posted& item : window_.Take()) {
                if (!cancelled && moment(item)) {
                    setup::Cancel();
                    cancelled = true;
                }
                if (item.kind == setup::Report::kFinished) finished = std::move(item);
            }
        }
        worker.join();
        return finished;
    }

    // Processes of the run still alive in its job.
    DWORD LeftInJob() const {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job{};
        QueryInformationJobObject(setup::s_job.get(), JobObjectBasicAccountingInformation, &job, sizeof job, nullptr);
        return job.ActiveProcesses;
    }
};

TEST_F(Pipeline, AFirstInstallRunsEveryPhaseToTheEnd) {
    const fs::path dir = scratch_.root() / L"Quorin \u00c9dition", image = scratch_.root() / "game.iso";
    fs::copy_file(SandboxPath(L"game.iso"), image);
    setup::Install({image.wstring(), dir.wstring(), false, true, true});

    const std::vector<Posted> posted = window_.Take();
    ASSERT_FALSE(posted.empty());
    const std::wstring summary = kDone + L"." + Freed(L"0 MB") + kImageDeleted;
    EXPECT_EQ(posted.back().kind, setup::Report::kFinished);
    EXPECT_EQ(posted.back().text, summary);
    EXPECT_EQ(posted.back().value, 1) << "success";

    // The marquee runs from the end of the tools through the source step.
    const auto source = std::find_if(posted.begin(), posted.end(), [](const Posted& item) {
        return item.kind == setup::Report::kStatus && item.text == L"Downloading the source code";
    });
    const auto bar = std::find_if(std::make_reverse_iterator(source), posted.rend(),
                                  [](const Posted& item) { return item.kind == setup::Report::kProgress; });
    ASSERT_NE(bar, posted.rend()) << "no bar position before the source step";
    EXPECT_EQ(bar->value, -1);

    const fs::path repo = setup::layout::RepoFolder(dir);
    const std::string log = FileText((dir / "setup.log").wstring());
    EXPECT_TRUE(InOrder(log, {"Quorin Recompiled Setup, installing to " + Utf8(dir.wstring()) + "\r\n",
                              "== Downloading the source code\r\n", "$ git clone ",
                              "The source folder is on branch main: updating that branch.\r\n",
                              "== Building (the first build takes 10-30 minutes)\r\n",
                              "$ python -u tools\\build.py --iso \"" + Utf8(image.wstring()) + "\"\r\n",
                              "==> Done\r\n", "== Freeing up space\r\n",
                              "Deleted the disc image " + Utf8(image.wstring()) + "\r\n"}))
        << log;
    std::string last;  // the summary as the text-mode log writes it
    for (const char c : Utf8(summary)) last += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(log.ends_with("\r\n" + last + "\r\n")) << "the summary ends the run's section";
    EXPECT_EQ(setup::s_installed, setup::layout::Launcher(repo).wstring());
    EXPECT_TRUE(fs::is_regular_file(setup::s_installed));
    EXPECT_FALSE(fs::exists(image));
    EXPECT_FALSE(fs::exists(repo / "generated" / "ppc")) << "leftovers freed";
}

// A cancel ends the run after the git command or the build that it killed, with nothing left.
TEST_F(Pipeline, CancelDuringTheCloneOrTheBuildEndsTheRun) {
    setup::Choices choices{SandboxPath(L"game.iso"), (scratch_.root() / "cloning").wstring(), false, false, false};
    SetFaults(R"({"answers": [{"path": "/git/.*", "rate": 4000}]})");
    const Posted cloning = CancelAt(choices, [](const Posted& item) { return item.text.starts_with(L"$ git clone "); });
    EXPECT_EQ(cloning.text, L"Cancelled.");
    EXPECT_EQ(cloning.value, 0);
    EXPECT_EQ(LeftInJob(), 0u);
    EXPECT_EQ(FileText(choices.dir + L"\\setup.log").find("== Building"), std::string::npos);

    choices.dir = (scratch_.root() / "building").wstring();
    SetFaults(R"({"build": "slow"})");
    const Posted building = CancelAt(choices, [](const Posted& item) { return item.text.starts_with(L"[1/600] "); });
    EXPECT_EQ(building.text, L"Cancelled.");
    EXPECT_EQ(building.value, 0);
    EXPECT_EQ(LeftInJob(), 0u);
    const std::string log = FileText(choices.dir + L"\\setup.log");
    EXPECT_TRUE(log.ends_with("\r\nCancelled.\r\n"));
    EXPECT_EQ(log.find("[600/600]"), std::string::npos) << "the build stopped early";
}

}  // namespace
