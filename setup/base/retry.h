// When a download tries again: the decision after each try, apart from the transport that makes
// the tries. Portable: no Windows headers.
#pragma once

namespace setup {

// A download makes at most this many tries.
constexpr int kTries = 4;

// How one try ended.
enum class Ended {
    kDone,       // the whole body arrived (and matched its SHA-256, when one was given)
    kAgain,      // it broke on the way, or the server failed (5xx): a later try may not
    kStartOver,  // the server can't send the rest of a file: it asks for all of it, at once
    kStop,       // anything a later try wouldn't mend: a refusal, a file that can't be written
    kCancelled,  // the user cancelled
};

// What the download does next.
struct AfterTry {
    enum Step { kReturn, kStartOver, kTryAgain } step;
    unsigned pause = 0;  // ms before the next try, for kTryAgain
};

// After the `tried`-th try (from 1) ended `how`: it returns once the body is in, after a cancel,
// a kStop, or the last of kTries tries; it starts over at once (that is no try of its own), or
// tries again after 1, 2 and 4 s.
AfterTry StepAfter(Ended how, int tried);

}  // namespace setup
