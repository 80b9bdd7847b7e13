#include "support/win32/HostCommand.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/TestSupport.h"
#include "support/win32/ProgramStart.h"

namespace testsupport {

namespace {

using ToUnixName = char*(CDECL*)(const wchar_t*);

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

// A program of the host system gets no pipes and Wine gives no process handle
// to wait on, so the script reports its end through a file: the exit code on
// the first line, then what it printed. The file is replaced whole, so a
// reader never sees half of it.
const char* const StatusWrapper =
    "status=$0; script=$1; shift; "
    "output=$(/bin/sh -c \"$script\" sh \"$@\" 2>&1); code=$?; "
    "printf '%s\\n%s' \"$code\" \"$output\" >\"$status.new\" && mv -f \"$status.new\" \"$status\"";

bool StartHostShell(const std::vector<std::string>& arguments) {
    std::string commandLine = "/bin/sh -c";
    for (const std::string& argument : arguments) {
        commandLine += " " + QuoteArgument(argument);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("/bin/sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
    }
    return true;
}

HostCommandResult AwaitStatus(const std::string& statusFile, int timeoutSeconds) {
    HostCommandResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string status = ReadFile(statusFile);
        const size_t lineEnd = status.find('\n');
        if (lineEnd != std::string::npos) {
            result.finished = true;
            result.exitCode = std::atoi(status.substr(0, lineEnd).c_str());
            result.output = status.substr(lineEnd + 1);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return result;
}

}  // namespace

std::string HostPath(const std::string& path) {
    const auto convert = reinterpret_cast<ToUnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) {
        return std::string();
    }
    char* unixName = convert(Widen(path).c_str());
    if (unixName == nullptr) {
        return std::string();
    }
    std::string result = unixName;
    HeapFree(GetProcessHeap(), 0, unixName);
    return result;
}

HostCommandResult RunHostScript(const std::string& script, const std::vector<std::string>& arguments,
                                int timeoutSeconds) {
    const std::string statusFile = UniqueTemporaryFile("qbh");
    const std::string hostStatusFile = statusFile.empty() ? std::string() : HostPath(statusFile);
    if (hostStatusFile.empty()) {
        DeleteFileA(statusFile.c_str());
        return HostCommandResult();
    }
    std::vector<std::string> shellArguments = {StatusWrapper, hostStatusFile, script};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
    HostCommandResult result;
    if (StartHostShell(shellArguments)) {
        result = AwaitStatus(statusFile, timeoutSeconds);
    }
    DeleteFileA(statusFile.c_str());
    return result;
}

std::string UniqueTemporaryFile(const char* prefix) {
    char folder[MAX_PATH + 1] = {};
    char name[MAX_PATH + 1] = {};
    if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, prefix, 0, name) == 0) {
        return std::string();
    }
    return name;
}

}  // namespace testsupport
