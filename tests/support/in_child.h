// Runs a check in a child process with a deadline, for calls that might block for ever (an open
// of a FIFO waits for its far end) or read without end (a link to /dev/zero): such a fault then
// fails the test instead of hanging the test program.
#pragma once

#include <functional>
#include <string>

namespace kfw::test {

// Runs `check` in a child process that is ended after `seconds`; the test fails unless the child
// returns in time and `check` returns "". What `check` returns otherwise (what it found wrong) is
// shown in the failure.
void ExpectInChildWithin(unsigned seconds, const std::function<std::string()>& check);

// The tests that make FIFOs and devices, kill children or open terminals need a POSIX system:
// neither Windows nor the web build's file system under Node has them.
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
#define KFW_TEST_POSIX_SYSTEM 1
#endif

#ifndef _WIN32
// Makes a FIFO; fails the test when it cannot.
void MakeFifo(const std::string& path);
#endif

}  // namespace kfw::test
