#include "support/HttpServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

constexpr int StartTimeoutMilliseconds = 20000;
constexpr int StopTimeoutMilliseconds = 2000;

// Reads the first line the server prints; empty when none came in time.
std::string ReadFirstLine(int descriptor) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(StartTimeoutMilliseconds);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd ready = {descriptor, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) {
            return std::string();
        }
        char buffer[64];
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count <= 0) {
            return std::string();
        }
        line.append(buffer, static_cast<size_t>(count));
    }
    return line.substr(0, line.find('\n'));
}

bool HasEnded(pid_t process, int waitMilliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    do {
        int status = 0;
        if (waitpid(process, &status, WNOHANG) != 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

}  // namespace

HttpServer::HttpServer(const std::string& folder, int lifetimeSeconds, const std::string& certificate)
    : Secure(!certificate.empty()) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return;
    }
    const std::string script = std::string(QUILLBOX_TEST_SOURCE_DIR) + "/support/http_server.py";
    std::vector<std::string> texts = {"python3",      script, folder, "--lifetime", std::to_string(lifetimeSeconds),
                                      "--watch-stdin"};
    if (Secure) {
        texts.insert(texts.end(), {"--certificate", certificate});
    }
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    // The server's standard input is a pipe whose only writer is this
    // process: when the test dies, the server sees its end and stops.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    pid_t process = -1;
    const int spawned = posix_spawnp(&process, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    StdinWriter = input[1];
    if (spawned != 0) {
        close(output[0]);
        Stop();
        return;
    }
    Process = process;
    const std::string line = ReadFirstLine(output[0]);
    close(output[0]);
    Port = std::atoi(line.c_str());
    if (Port <= 0 || Port > 65535) {
        Port = 0;
        Stop();
    }
}

HttpServer::~HttpServer() { Stop(); }

std::string HttpServer::BaseUrl() const {
    return (Secure ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(Port);
}

void HttpServer::Stop() {
    if (StdinWriter >= 0) {
        close(StdinWriter);
        StdinWriter = -1;
    }
    if (Process > 0) {
        kill(Process, SIGTERM);
        if (!HasEnded(Process, StopTimeoutMilliseconds)) {
            kill(Process, SIGKILL);
            waitpid(Process, nullptr, 0);
        }
        Process = -1;
    }
    Port = 0;
}

}  // namespace testsupport
