// Git ref names that come from outside (a release tag from the web) and go onto a command line,
// and what a repository's own files say it has checked out, read without git (whose folder a
// freeing of space deleted). Portable: no Windows headers.
#pragma once

#include <string>
#include <string_view>

namespace setup {

// Whether `name` is a plain git ref name that can stand unquoted on a command line: one to 255
// characters of ASCII letters, digits and . _ + - /, not starting with "-" (it would read as an
// option), and within git's own rules for ref names: no "..", no piece of it (between slashes)
// empty or starting with ".", and not ending in "." or ".lock". Anything else, such as white
// space, quotes, control characters or ~ ^ : ? * [ \ @{, is refused.
bool IsPlainRefName(std::wstring_view name);

// Whether `text` is a commit's full name: 40 hex digits in lowercase.
bool IsCommitId(std::string_view text);

// What a repository's HEAD file says: the branch it follows ("main" of "ref: refs/heads/main"),
// or the commit it is detached at. Both empty for anything else.
struct Head {
    std::string branch;
    std::string commit;
};
Head ParseHead(std::string_view text);

// The commit that `ref` ("refs/heads/main") names in a packed-refs file; "" when it names none.
std::string PackedCommit(std::string_view packedRefs, std::string_view ref);

}  // namespace setup
