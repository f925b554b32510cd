// Every tool's safety net: when memory runs out or an unexpected error escapes (from `main` or from any
// other thread), the tool still ends with its own answer instead of dying without one.
#pragma once

#include <cstdio>
#include <exception>

namespace shared {

// The answer of the net: `text` (a whole line, "\n" included, or empty for a tool whose empty answer is
// no output at all) written to `fd`, then the exit `status`. On standard output it is written only when
// the tool has not written its line yet.
struct LastAnswer {
    const char* text;
    int status;
    int fd = 1;
    void (*beforeExit)() noexcept = nullptr;  // clean-up that must happen on this path too
};

// Arms the net for the whole process (it also answers for std::terminate).
void armLastAnswer(LastAnswer answer);

// Writes the armed answer (without allocating) and ends the process at once.
[[noreturn]] void giveLastAnswer() noexcept;

// Marks that the tool's own line is on standard output, so that the net writes no second one.
void noteLineWritten() noexcept;

// Runs a tool's body under the net: its status, or the net's answer when anything escapes.
template <typename Body>
int runWithLastAnswer(LastAnswer answer, Body&& body) {
    armLastAnswer(answer);
    try {
        return body();
    } catch (...) {
        giveLastAnswer();
    }
}

}  // namespace shared
