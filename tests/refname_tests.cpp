// Which release tags from the web may go onto git's command line.
#include "base/refname.h"

#include <gtest/gtest.h>

#include <string>

using setup::IsPlainRefName;

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

}  // namespace
