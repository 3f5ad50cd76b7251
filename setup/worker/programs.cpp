#include "worker/programs.h"

#include "base/progress.h"
#include "globals.h"
#include "report.h"
#include "win/convert.h"
#include "win/errors.h"
#include "win/processes.h"

#include <functional>
#include <optional>

namespace fs = std::filesystem;

namespace setup {
namespace {

// What reads a child's lines: each with its text as widened for the log, empty for a line that
// the log leaves out.
using Reader = std::function<void(const std::string& line, const std::wstring& text)>;

// A child's line to the log: setup.log takes its bytes as they are when they are UTF-8, and its
// text converted back only when they aren't.
void LogLine(const std::string& line, const std::wstring& text, bool utf8) {
    if (utf8)
        Log(text, line);
    else
        Log(text, win::Utf8(text));
}

// Git's latest progress line of a stage that isn't over yet.
struct Held {
    std::string line, stage;
    std::wstring text;
    bool utf8 = false;
};

// Run, with each line going to `read` before the log; what the log keeps is decided once per line.
int RunLogged(const std::wstring& commandLine, const fs::path& folder, const Reader& read) {
    // Git prints a progress line every few hundred milliseconds: of each stage, the log gets the
    // last, once the stage is over or the output ends.
    Held held;
    const auto release = [&held] {
        if (!held.line.empty()) LogLine(held.line, held.text, held.utf8);
        held = {};
    };
    const auto each = [&](const std::string& line, bool last) {
        if (last) release();  // the output is over
        std::optional<GitProgress> progress;
        if (!last) progress = ParseGitProgress(line);
        const bool logged = last || progress || !IsProgressLine(line);  // now or once its stage is over
        bool utf8 = false;
        std::wstring text = logged ? win::Widen(line, &utf8) : std::wstring();
        read(line, text);
        if (!held.line.empty() && (!progress || progress->stage != held.stage)) release();
        if (progress)
            held = {line, std::string(progress->stage), std::move(text), utf8};
        else if (logged)
            LogLine(line, text, utf8);
    };
    const auto log = [](const std::wstring& line) { Log(line); };
    const win::Ran ran = win::Run(commandLine, folder, each, {log, &s_cancel, s_job.get()});
    release();
    switch (ran.error) {
    case win::Ran::kNoPipe:
        Fail(L"Couldn't create a pipe.", win::ErrorText(ran.system));
    case win::Ran::kNotStarted:
        Fail(L"Couldn't start: " + commandLine, win::ErrorText(ran.system));
    case win::Ran::kCancelled:
        Fail(L"Cancelled.");
    case win::Ran::kNone:
        break;
    }
    return ran.code;
}

}  // namespace

int Run(const std::wstring& commandLine, const fs::path& folder, const LineCallback& line) {
    return RunLogged(commandLine, folder, [&line](const std::string& bytes, const std::wstring&) {
        if (line) line(bytes);
    });
}

int RunBuildScript(const std::wstring& commandLine, const fs::path& folder) {
    return RunLogged(commandLine, folder, [](const std::string& line, const std::wstring& text) {
        const BuildProgress progress = ParseBuildLine(line);
        // A "==> " line is never left out of the log: the status is its text after those four.
        if (progress.status) PostStatus(text.substr(4));
        if (progress.percent) PostProgress(*progress.percent);
    });
}

}  // namespace setup
