// Which release tags from the web may go onto git's command line, and what a repository's own
// files say it has checked out.
#include "base/refname.h"

#include <gtest/gtest.h>

#include <string>

using setup::IsPlainRefName;
using setup::PackedCommit;
using setup::ParseHead;

namespace {

TEST(RefNames, PlainTagsPass) {
    for (const wchar_t* name : {L"v1.1.0", L"v1.0.0-rc1", L"V", L"1", L"release/2024.05", L"v1_2+build.3", L"a.b-c_d"})
        EXPECT_TRUE(IsPlainRefName(name)) << name;
    EXPECT_TRUE(IsPlainRefName(std::wstring(255, L'v')));
}

TEST(RefNames, WhatCouldChangeTheCommandLineIsRefused) {
    for (const wchar_t* name : {L"", L"--orphan=x", L"-v1", L"v1 x", L" v1", L"v1\tx", L"v1\"x", L"v1'x", L"v1`x",
                                L"v1;x", L"v1&x", L"v1|x", L"v1<x", L"v1>x", L"v1$x", L"v1%x", L"v1\x01x", L"v1\x7fx",
                                L"v1\nx", L"v1\u00e9", L"v1\u3000x", L"v1\\x"})
        EXPECT_FALSE(IsPlainRefName(name)) << name;
    EXPECT_FALSE(IsPlainRefName(std::wstring(256, L'v'))) << "longer than a file name";
    EXPECT_FALSE(IsPlainRefName(std::wstring(L"v1\0x", 4))) << "an embedded NUL";
}

TEST(RefNames, WhatGitRefusesAsARefNameIsRefused) {
    for (const wchar_t* name : {L"v1..2", L"v1.", L"v1.lock", L"a.lock/b", L".v1", L"a/.b", L"/v1", L"v1/", L"a//b",
                                L"v1~1", L"v1^", L"v1^{}", L"v1:x", L"v1?", L"v1*", L"v1[", L"v1@{1}", L"@"})
        EXPECT_FALSE(IsPlainRefName(name)) << name;
}

const std::string kCommit = "0123456789abcdef0123456789abcdef01234567";

TEST(Heads, ABranchOrACommitAndNothingElse) {
    struct Row {
        std::string file, branch, commit;
    };
    for (const Row& row : {Row{"ref: refs/heads/main\n", "main", ""}, Row{"ref: refs/heads/feature/x\r\n", "feature/x", ""},
                           Row{kCommit + "\n", "", kCommit}, Row{kCommit, "", kCommit},
                           Row{"ref: refs/tags/v1.0.0\n", "", ""}, Row{"0123456789ABCDEF0123456789abcdef01234567\n", "", ""},
                           Row{kCommit.substr(1) + "\n", "", ""}, Row{kCommit + " \n", "", ""}, Row{"", "", ""}}) {
        const setup::Head head = ParseHead(row.file);
        EXPECT_EQ(head.branch, row.branch) << row.file;
        EXPECT_EQ(head.commit, row.commit) << row.file;
    }
}

TEST(Heads, APackedRefIsFoundByItsWholeName) {
    const std::string other = "fedcba9876543210fedcba9876543210fedcba98";
    const std::string packed = "# pack-refs with: peeled fully-peeled sorted \n" + other + " refs/heads/main-old\n" +
                               kCommit + " refs/heads/main\r\n" + other + " refs/tags/v1.0.0\n^" + kCommit + "\n";
    EXPECT_EQ(PackedCommit(packed, "refs/heads/main"), kCommit);
    EXPECT_EQ(PackedCommit(packed, "refs/tags/v1.0.0"), other) << "the tag itself, not what it peels to";
    for (const char* missing : {"refs/heads/mai", "refs/heads/main-", "main", ""})
        EXPECT_EQ(PackedCommit(packed, missing), "") << missing;
    EXPECT_EQ(PackedCommit("deadbeef refs/heads/main\n", "refs/heads/main"), "") << "no commit's full name";
}

}  // namespace
