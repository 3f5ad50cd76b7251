#include "worker/programs.h"

#include "globals.h"
#include "report.h"
#include "win/errors.h"
#include "win/processes.h"

namespace setup {

int Run(const std::wstring& commandLine, const std::filesystem::path& folder, const LineCallback& line) {
    const win::Ran ran = win::Run(commandLine, folder, line, {Log, &s_cancel, s_job.get()});
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

}  // namespace setup
