#include "support/ChildProcess.h"

#include <windows.h>

#include "support/win32/ProgramStart.h"

namespace testsupport {

namespace {

// Handles of kernel objects carry only 32 significant bits, so the int
// member of the class holds one.
HANDLE ToHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

HANDLE CreateOutputFile(const std::string& path) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& workingFolder, const std::vector<std::string>& environment) {
    std::string commandLine = QuoteArgument(program);
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += QuoteArgument(argument);
    }
    std::string environmentBlock = MergedEnvironmentBlock(environment);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE input =
        CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
    const HANDLE out = CreateOutputFile(Output / "out");
    const HANDLE err = CreateOutputFile(Output / "err");
    PROCESS_INFORMATION process = {};
    if (input != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = out;
        startup.hStdError = err;
        if (CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, environmentBlock.data(),
                           workingFolder.c_str(), &startup, &process)) {
            CloseHandle(process.hThread);
            Process = static_cast<int>(reinterpret_cast<intptr_t>(process.hProcess));
        }
    }
    for (HANDLE handle : {input, out, err}) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
}

ChildProcess::~ChildProcess() {
    if (Process > 0) {
        if (!Reaped) {
            TerminateProcess(ToHandle(Process), KilledExitCode);
            WaitForSingleObject(ToHandle(Process), INFINITE);
        }
        CloseHandle(ToHandle(Process));
    }
}

bool ChildProcess::HasEnded() {
    if (Process > 0 && !Reaped && WaitForSingleObject(ToHandle(Process), 0) == WAIT_OBJECT_0) {
        Reaped = true;
    }
    return Process <= 0 || Reaped;
}

void ChildProcess::Kill() {
    if (Process > 0 && !Reaped) {
        TerminateProcess(ToHandle(Process), KilledExitCode);
    }
}

bool ChildProcess::KillAfter(std::chrono::microseconds delay) {
    if (Process <= 0 || Reaped) {
        return false;
    }
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
    if (WaitForSingleObject(ToHandle(Process), static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0) {
        Reaped = true;
        return false;
    }
    TerminateProcess(ToHandle(Process), KilledExitCode);
    return true;
}

ProgramResult ChildProcess::Wait(int timeoutSeconds) {
    ProgramResult result;
    if (Process <= 0) {
        return result;
    }
    if (!Reaped && WaitForSingleObject(ToHandle(Process), static_cast<DWORD>(timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(ToHandle(Process), KilledExitCode);
        WaitForSingleObject(ToHandle(Process), INFINITE);
    }
    Reaped = true;
    DWORD exitCode = 0;
    // Codes from 0xC0000000 up are exceptions (or a kill) that ended it.
    if (GetExitCodeProcess(ToHandle(Process), &exitCode) && exitCode < 0xC0000000u) {
        result.exitCode = static_cast<int>(exitCode);
    }
    result.out = ReadFile(Output / "out");
    result.err = ReadFile(Output / "err");
    return result;
}

std::string ChildProcess::ErrorSoFar() const { return ReadFile(Output / "err"); }

}  // namespace testsupport
