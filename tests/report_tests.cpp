// How the worker speaks: setup.log, the details box and the status line, the end of a run, and
// the conversion of byte strings.
#include "base/text.h"
#include "report.h"
#include "support/scratch.h"
#include "support/test_window.h"
#include "support/window_driver.h"
#include "support/worker.h"
#include "win/convert.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace fs = std::filesystem;
using namespace setup;
using testing_support::PumpWaiting;
using testing_support::Scratch;

// Every allocation of this program is counted, to see that a posted string is freed exactly once.
namespace {
std::atomic<long> s_live{0};
}
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size ? size : 1)) {
        ++s_live;
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    if (!block) return;
    --s_live;
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace {

TEST(Widen, TakesUtf8WhenValidAndTheAnsiCodePageOtherwise) {
    EXPECT_EQ(win::Widen(""), L"");
    EXPECT_EQ(win::Widen("abc"), L"abc");
    EXPECT_EQ(win::Widen("\xC3\xA9"), L"\u00e9");
    EXPECT_EQ(win::Widen("\xF0\x9F\x8E\xAE"), L"\U0001F3AE");
    ASSERT_EQ(GetACP(), 1252u) << "the test runs with the Western European code page";
    EXPECT_EQ(win::Widen("\xE9"), L"\u00e9");
    EXPECT_EQ(win::Widen("caf\xE9 \x80"), L"caf\u00e9 \u20ac") << "one bad sequence converts the whole text";
    EXPECT_EQ(win::Widen(std::string("a\0b", 3)), std::wstring(L"a\0b", 3)) << "NUL bytes are kept";
}

using Reporting = testing_support::SetupWindow;

TEST_F(Reporting, CheckCancelFailsWithCancelledOnlyAfterACancel) {
    EXPECT_NO_THROW(CheckCancel());
    s_cancel = true;
    try {
        CheckCancel();
        ADD_FAILURE() << "no failure";
    } catch (const Failed& failed) {
        EXPECT_EQ(failed.message, L"Cancelled.");
    }
}

// The player cancelled while a question was open: whatever the answer, the run ends as cancelled.
TEST_F(Reporting, AQuestionOpenAtACancelEndsTheRun) {
    testing_support::BoxAnswerer answerer({IDNO}, [](HWND) { s_cancel = true; });
    EXPECT_EQ(testing_support::FailureOf([] { AskFromWorker(L"Go on?", MB_YESNO); }), L"Cancelled.");
    EXPECT_EQ(answerer.Seen().size(), 1u);
}

TEST_F(Reporting, LogAndStatusReachTheFileTheDetailsAndTheStatusLine) {
    Open();
    Scratch disk;
    const fs::path file = disk.root() / "setup.log";
    ASSERT_TRUE(OpenLog(file));
    Log(L"");
    Status(L"Checking the tools");
    Log(L"caf\u00e9");
    // Written up to here already: flushed per line.
    EXPECT_EQ(FileText(file), "\r\n== Checking the tools\r\ncaf\xC3\xA9\r\n");
    CloseLog();
    Log(L"only in the window once the log is closed");
    PumpWaiting();
    EXPECT_EQ(Text(kStatusLine), L"Checking the tools");
    EXPECT_EQ(Text(kDetails), L"\r\n== Checking the tools\r\ncaf\u00e9\r\nonly in the window once the log is closed\r\n");
    EXPECT_EQ(FileText(file), "\r\n== Checking the tools\r\ncaf\xC3\xA9\r\n");
}

TEST_F(Reporting, APostedStringIsFreedOnceWhetherThePostArrivesOrFails) {
    Open();
    PostStatus(L"first");  // frees the status kept of an earlier window; these fit their string objects
    PumpWaiting();
    const std::wstring line = L"short";  // kept inside the string object: one allocation a post
    long before = s_live;
    Log(line);
    EXPECT_EQ(s_live - before, 1) << "the window owns it until it is handled";
    PumpWaiting();
    EXPECT_EQ(s_live, before) << "the window deleted it";

    // A full queue (real Windows holds 10,000 posts at most) is waited out, in order.
    static int s_refusals = 0;
    s_post = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> BOOL {
        if (s_refusals > 0) {
            --s_refusals;
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        s_refusals = 3;
        return PostMessageW(window, message, wParam, lParam);
    };
    s_refusals = 3;
    for (const wchar_t* text : {L"one", L"two", L"three"}) Log(text);
    PostStatus(L"last");
    s_post = PostMessageW;
    PumpWaiting();
    EXPECT_EQ(Text(kDetails), L"short\r\none\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(Text(kStatusLine), L"last");
    EXPECT_EQ(s_live, before);

    HWND window = s_window;
    s_window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(s_window);  // a window that is gone: every post fails
    before = s_live;
    Log(line);
    PostStatus(line);
    PostFinished(false, line);
    EXPECT_EQ(s_live, before) << "a failed post frees its string";
    s_window = window;
}

// What the window shows already isn't posted again, but in a new run (KeepPace) or to another window.
TEST(Posting, DropsAStatusOrABarPositionThatTheWindowShowsAlready) {
    testing_support::TestWindow window;
    for (const wchar_t* text : {L"a", L"a", L"b", L"a"}) PostStatus(text);
    for (const int percent : {5, 5, -1, -1, 5}) PostProgress(percent);
    std::thread([] { PostProgress(5); KeepPace(); PostProgress(5); }).join();
    std::vector<std::wstring> posted;
    for (const testing_support::Posted& item : window.Take())
        posted.push_back(item.kind == Report::kStatus ? item.text : std::to_wstring(item.value));
    EXPECT_EQ(posted, (std::vector<std::wstring>{L"a", L"b", L"a", L"5", L"-1", L"5", L"5"}));
    testing_support::TestWindow other;
    PostStatus(L"a");
    EXPECT_EQ(other.Take().size(), 1u);
}

}  // namespace
