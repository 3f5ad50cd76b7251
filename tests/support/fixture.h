// The one base of the test fixtures of the worker's code and of the window's.
#pragma once

#include "globals.h"

#include <gtest/gtest.h>

namespace testing_support {

// Each test starts, and leaves the next, as a run starts: no cancel pending, no launcher built,
// start-up's view of the window.
class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

private:
    static void Reset() {
        setup::s_cancel = false;
        setup::s_installed.clear();
        setup::s_showLog = false;
        setup::s_updateMode = false;
    }
};

}  // namespace testing_support
