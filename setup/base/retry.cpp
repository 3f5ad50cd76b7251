#include "base/retry.h"

namespace setup {

AfterTry StepAfter(Ended how, int tried) {
    constexpr unsigned kPauses[kTries - 1] = {1000, 2000, 4000};  // before the second, third and fourth try
    if (how == Ended::kStartOver) return {AfterTry::kStartOver};
    if (how != Ended::kAgain || tried >= kTries) return {AfterTry::kReturn};
    return {AfterTry::kTryAgain, kPauses[tried - 1]};
}

}  // namespace setup
