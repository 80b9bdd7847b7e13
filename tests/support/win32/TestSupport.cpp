#include "support/TestSupport.h"

#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/SmallDisk.h"
#include "support/win32/HostCommand.h"
#include "support/win32/ProgramStart.h"

namespace testsupport {

namespace {

constexpr char TestFolderPrefix[] = "quillbox-test-";

}  // namespace

TempDir::TempDir() {
    char base[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error("GetTempPath failed");
    }
    // Names from the process id and a counter; a name some other process
    // took already is skipped.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = std::string(base) + TestFolderPrefix + std::to_string(GetCurrentProcessId()) +
                                      "-" + std::to_string(counter++);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            Root = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    throw std::runtime_error("CreateDirectory failed");
}

namespace {

// Wine should turn the host's "no space left" into Windows' "disk full"; a
// link that a Windows program can write to would make the tests pass for the
// wrong reason.
bool WritesFailForLackOfSpace(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL wrote = ::WriteFile(file, "x", 1, &written, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    return !wrote && error == ERROR_DISK_FULL;
}

// Windows has no always-full device, and Wine does not take a link to the
// host's for a file: it opens it but cannot find or delete it, and
// std::filesystem loops on it. Under Wine a link to an empty file on a small
// file system without free space serves instead: writes through it fail for
// lack of space, and deleting it is seen as done. Wine deletes the target,
// though, and the link that stays behind is one Windows cannot see, so the
// disk removes its links, and the test folders they kept, when the test
// process ends.
class FullDisk {
public:
    static FullDisk& Instance() {
        static FullDisk disk;
        return disk;
    }

    // Makes path a link to a new empty file on the disk; false when there is
    // no such disk.
    bool Link(const std::string& path) {
        const std::string hostPath = HostPath(path);
        const std::string target = Folder / ("disk/empty-" + std::to_string(Links.size()));
        if (!Full || hostPath.empty() || !CreateEmptyFile(target)) {
            return false;
        }
        const HostCommandResult linked = RunHostScript("ln -s \"$1\" \"$2\"", {HostPath(target), hostPath});
        if (linked.exitCode != 0) {
            throw std::runtime_error("cannot link " + path + " to a file on a full disk: " + linked.output);
        }
        Links.push_back(path);
        return true;
    }

    ~FullDisk() {
        for (const std::string& link : Links) {
            RunHostScript("rm -f \"$1\"", {HostPath(link)});
            RemoveTestFolderAround(link);
        }
    }

private:
    FullDisk() : Disk(Folder / "disk", 64 * 1024) { Full = Disk.IsMounted() && Disk.Fill(Folder / "disk/filler", 0); }

    static bool CreateEmptyFile(const std::string& path) {
        const HANDLE file =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        CloseHandle(file);
        return true;
    }

    // The test's own folder could not be removed while the link was in it.
    static void RemoveTestFolderAround(const std::string& path) {
        char temporary[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathA(sizeof temporary, temporary);
        const std::string prefix = std::string(temporary) + TestFolderPrefix;
        if (length == 0 || path.compare(0, prefix.size(), prefix) != 0) {
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(path.substr(0, path.find_first_of("\\/", prefix.size())), ignored);
    }

    // Declared before the disk, so that the disk is unmounted before its
    // folder goes.
    TempDir Folder;
    SmallDisk Disk;
    bool Full = false;
    std::vector<std::string> Links;
};

}  // namespace

bool MakeFullDeviceLink(const std::string& path) {
    if (!FullDisk::Instance().Link(path)) {
        return false;
    }
    if (!WritesFailForLackOfSpace(path)) {
        DeleteFileA(path.c_str());
        return false;
    }
    return true;
}

void SetEnvironmentValue(const std::string& name, const std::string& value) { _putenv_s(name.c_str(), value.c_str()); }

// An empty value removes the variable.
void RemoveEnvironmentValue(const std::string& name) { _putenv_s(name.c_str(), ""); }

std::string ReferenceMd5(const std::vector<std::string>& paths) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return std::string();
    }
    HCRYPTHASH hash = 0;
    bool hashed = CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) != 0;
    std::vector<char> buffer(1 << 20);
    for (const std::string& path : paths) {
        std::ifstream stream(path, std::ios::binary);
        hashed = hashed && stream.is_open();
        while (hashed && stream) {
            stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const DWORD count = static_cast<DWORD>(stream.gcount());
            hashed = CryptHashData(hash, reinterpret_cast<const BYTE*>(buffer.data()), count, 0) != 0;
        }
        hashed = hashed && stream.eof();
    }
    BYTE digest[16];
    DWORD size = sizeof digest;
    hashed = hashed && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest;
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    if (!hashed) {
        return std::string();
    }
    std::string hex;
    for (BYTE byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

namespace {

bool SameNameIgnoringCase(const std::string& entry, const std::string& name) {
    if (entry.size() <= name.size() || entry[name.size()] != '=') {
        return false;
    }
    for (size_t index = 0; index < name.size(); ++index) {
        if (std::toupper(static_cast<unsigned char>(entry[index])) !=
            std::toupper(static_cast<unsigned char>(name[index]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string MergedEnvironmentBlock(const std::vector<std::string>& changes) {
    std::vector<std::string> merged;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != 0; entry += std::strlen(entry) + 1) {
            merged.emplace_back(entry);
        }
        FreeEnvironmentStringsA(block);
    }
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('='));
        std::erase_if(merged, [&](const std::string& entry) { return SameNameIgnoringCase(entry, name); });
        if (change.find('=') != std::string::npos) {
            merged.push_back(change);
        }
    }
    std::string block;
    for (const std::string& entry : merged) {
        block += entry;
        block += '\0';
    }
    block += '\0';
    return block;
}

namespace {

// A pipe whose write end the child inherits; the read end stays here.
bool CreateOutputPipe(HANDLE& reader, HANDLE& writer) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    if (!CreatePipe(&reader, &writer, &inheritable, 0)) {
        return false;
    }
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    return true;
}

void DrainPipe(HANDLE reader, std::string* into) {
    char buffer[65536];
    DWORD count = 0;
    while (::ReadFile(reader, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        into->append(buffer, count);
    }
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingFolder, const std::vector<std::string>& environment,
                         int timeoutSeconds) {
    std::string commandLine = QuoteArgument(program);
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += QuoteArgument(argument);
    }
    std::string environmentBlock = MergedEnvironmentBlock(environment);

    HANDLE outReader = nullptr;
    HANDLE outWriter = nullptr;
    HANDLE errReader = nullptr;
    HANDLE errWriter = nullptr;
    if (!CreateOutputPipe(outReader, outWriter) || !CreateOutputPipe(errReader, errWriter)) {
        throw std::runtime_error("CreatePipe failed");
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE input =
        CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWriter;
    startup.hStdError = errWriter;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        environmentBlock.data(), workingFolder.c_str(), &startup, &process);
    // Only the child may hold the write ends now, so the reads below end
    // when it does.
    CloseHandle(outWriter);
    CloseHandle(errWriter);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }

    ProgramResult result;
    if (!started) {
        CloseHandle(outReader);
        CloseHandle(errReader);
        return result;
    }
    CloseHandle(process.hThread);
    std::thread outDrain(DrainPipe, outReader, &result.out);
    std::thread errDrain(DrainPipe, errReader, &result.err);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, KilledExitCode);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    outDrain.join();
    errDrain.join();
    DWORD exitCode = 0;
    // Codes from 0xC0000000 up are exceptions (or the kill above) that ended it.
    if (GetExitCodeProcess(process.hProcess, &exitCode) && exitCode < 0xC0000000u) {
        result.exitCode = static_cast<int>(exitCode);
    }
    CloseHandle(process.hProcess);
    CloseHandle(outReader);
    CloseHandle(errReader);
    return result;
}

}  // namespace testsupport
