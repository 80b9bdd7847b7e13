#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// A program started in the background, for tests that act on it while it
// runs: kill it at a chosen moment, or run two at once. Its standard output
// and error go to files, so a program that nobody reads from never blocks.
class ChildProcess {
public:
    // Starts the program like RunProgram does; IsStarted tells whether it did.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& workingFolder, const std::vector<std::string>& environment = {});
    // Kills the program when it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool IsStarted() const { return Process > 0; }
    // True once the program has ended; does not wait.
    bool HasEnded();
    // Ends the program at once (SIGKILL, TerminateProcess), wherever it is.
    void Kill();
    // Lets the program run for at most `delay`, then kills it as Kill does;
    // true when it still ran and was killed.
    bool KillAfter(std::chrono::microseconds delay);
    // Waits for the end (killing the program after timeoutSeconds) and
    // returns what it printed; exitCode is -1 when it did not exit normally.
    ProgramResult Wait(int timeoutSeconds = 120);
    // What the program has written to standard error so far.
    std::string ErrorSoFar() const;

private:
    TempDir Output;
    int Process = -1;
    bool Reaped = false;
    int Status = 0;
};

}  // namespace testsupport
