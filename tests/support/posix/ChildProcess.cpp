#include "support/ChildProcess.h"
#include "support/posix/Environment.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace testsupport {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& workingFolder, const std::vector<std::string>& environment) {
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = MergedEnvironment(environment);
    std::vector<char*> argv;
    for (std::string& text : argumentTexts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& text : environmentTexts) envp.push_back(text.data());
    envp.push_back(nullptr);
    const std::string outPath = Output / "out";
    const std::string errPath = Output / "err";

    const pid_t child = fork();
    if (child == 0) {
        const int input = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (input < 0 || out < 0 || err < 0 || dup2(input, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(workingFolder.c_str()) != 0) {
            _exit(126);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    Process = child;
}

ChildProcess::~ChildProcess() {
    if (Process > 0 && !Reaped) {
        kill(Process, SIGKILL);
        waitpid(Process, &Status, 0);
    }
}

bool ChildProcess::HasEnded() {
    if (Process > 0 && !Reaped && waitpid(Process, &Status, WNOHANG) == Process) {
        Reaped = true;
    }
    return Process <= 0 || Reaped;
}

void ChildProcess::Kill() {
    if (Process > 0 && !Reaped) {
        kill(Process, SIGKILL);
    }
}

bool ChildProcess::KillAfter(std::chrono::microseconds delay) {
    const auto deadline = std::chrono::steady_clock::now() + delay;
    while (!HasEnded()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            Kill();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

ProgramResult ChildProcess::Wait(int timeoutSeconds) {
    ProgramResult result;
    if (Process <= 0) {
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!Reaped) {
        const pid_t ended = waitpid(Process, &Status, WNOHANG);
        if (ended == Process) {
            Reaped = true;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            kill(Process, SIGKILL);
            waitpid(Process, &Status, 0);
            Reaped = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    result.exitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    result.out = ReadFile(Output / "out");
    result.err = ReadFile(Output / "err");
    return result;
}

std::string ChildProcess::ErrorSoFar() const { return ReadFile(Output / "err"); }

}  // namespace testsupport
