#include "support/TestSupport.h"
#include "support/posix/Environment.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace testsupport {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/quillbox-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    Root = buffer.data();
}

// A link that cannot be made here is a fault of the test and throws.
bool MakeFullDeviceLink(const std::string& path) {
    std::filesystem::create_symlink("/dev/full", path);
    return true;
}

void SetEnvironmentValue(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

void RemoveEnvironmentValue(const std::string& name) { unsetenv(name.c_str()); }

std::string ReferenceMd5(const std::vector<std::string>& paths) {
    // cat joins the files into one stream; a file it cannot read shows on
    // its error output, as the pipe reports only md5sum's status.
    std::vector<std::string> arguments = {"-c", "cat \"$@\" | md5sum", "sh"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    const ProgramResult result = RunProgram("/bin/sh", arguments, ".");
    if (result.exitCode != 0 || !result.err.empty() || result.out.size() < 32) {
        return std::string();
    }
    return result.out.substr(0, 32);
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        merged.emplace_back(*entry);
    }
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('='));
        merged.erase(std::remove_if(
                         merged.begin(), merged.end(),
                         [&](const std::string& entry) { return entry.compare(0, name.size() + 1, name + "=") == 0; }),
                     merged.end());
        if (change.find('=') != std::string::npos) {
            merged.push_back(change);
        }
    }
    return merged;
}

namespace {

void Drain(int descriptor, std::string& into, bool& open) {
    char buffer[65536];
    const ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count > 0) {
        into.append(buffer, static_cast<size_t>(count));
    } else if (count == 0 || errno != EINTR) {
        open = false;
    }
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingFolder, const std::vector<std::string>& environment,
                         int timeoutSeconds) {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> environmentTexts = MergedEnvironment(environment);
    std::vector<char*> argv;
    for (auto& text : argumentTexts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& text : const_cast<std::vector<std::string>&>(environmentTexts)) envp.push_back(text.data());
    envp.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        close(outPipe[1]);
        close(errPipe[1]);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        if (chdir(workingFolder.c_str()) != 0) _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    ProgramResult result;
    bool outOpen = true;
    bool errOpen = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (outOpen || errOpen) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(child, SIGKILL);
            break;
        }
        pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000))) <= 0) continue;
        if (fds[0].revents != 0) Drain(outPipe[0], result.out, outOpen);
        if (fds[1].revents != 0) Drain(errPipe[0], result.err, errOpen);
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace testsupport
