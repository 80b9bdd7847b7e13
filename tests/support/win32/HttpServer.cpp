#include "support/HttpServer.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/win32/HostCommand.h"
#include "support/win32/ProgramStart.h"

namespace testsupport {

namespace {

constexpr int StartTimeoutMilliseconds = 20000;

// The tests of the Windows build run under Wine, and the server is the build
// machine's own Python, a program of the host system that Wine starts
// directly. Such a program gets host paths, and of the standard handles only
// files reach it (not pipes), so the port comes back through a file, and a
// small shell loop ends the server once that file has gone.

// The first line of the control file; empty when none came in time.
std::string ReadFirstLine(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(StartTimeoutMilliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const HANDLE file =
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[64] = {};
            DWORD count = 0;
            ::ReadFile(file, buffer, sizeof buffer - 1, &count, nullptr);
            CloseHandle(file);
            const std::string text(buffer, count);
            if (text.find('\n') != std::string::npos) {
                return text.substr(0, text.find('\n'));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::string();
}

}  // namespace

HttpServer::HttpServer(const std::string& folder, int lifetimeSeconds, const std::string& certificate)
    : Secure(!certificate.empty()) {
    ControlFile = UniqueTemporaryFile("qbs");
    if (ControlFile.empty()) {
        return;
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE output =
        CreateFileA(ControlFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        Stop();
        return;
    }
    const std::string script = std::string(QUILLBOX_TEST_SOURCE_DIR) + "/support/http_server.py";
    // The test names the served files in its ANSI code page.
    const std::string loop =
        "\"$0\" \"$1\" \"$2\" --lifetime \"$3\" --code-page \"$5\" ${6:+--certificate \"$6\"} & server=$!; "
        "while [ -e \"$4\" ] && kill -0 $server 2>/dev/null; do sleep 0.2; done; "
        "kill $server 2>/dev/null";
    std::string commandLine = "/bin/sh -c";
    for (const std::string& argument :
         {loop, std::string(QUILLBOX_PYTHON), script, HostPath(folder), std::to_string(lifetimeSeconds),
          HostPath(ControlFile), "cp" + std::to_string(GetACP()), Secure ? HostPath(certificate) : std::string()}) {
        commandLine += " " + QuoteArgument(argument);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessA("/bin/sh", commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(output);
    if (!started) {
        Stop();
        return;
    }
    // Wine gives no handles for a program of the host system.
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
    }
    Port = std::atoi(ReadFirstLine(ControlFile).c_str());
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
    if (!ControlFile.empty()) {
        DeleteFileA(ControlFile.c_str());
        ControlFile.clear();
    }
    Port = 0;
}

}  // namespace testsupport
