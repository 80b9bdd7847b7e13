#pragma once

#include <cstdint>

// The abstract file through which all file access goes: a file on disk, a
// window onto an archive member or a buffer in memory.
//
// Open rights: 0 read and write (open or create), 1 read (existing file),
// 2 write (create or truncate), 3 write a new file (whatever had the name is
// deleted first, a link itself, and the file is never created through a
// link), 4 read and write a file that exists and is no link (a temporary
// file of ours that is continued). Seek origins: 0 start, 1 current, 2 end.
// Sizes and positions are signed 32-bit; -1 reports failure. Read gives 0 at
// the end of the file and -1 when reading fails, so that a failure is not
// taken for the end.
class FileClass {
public:
    enum Rights { ReadWrite = 0, ReadOnly = 1, WriteOnly = 2, WriteNew = 3, ContinueOwn = 4 };
    enum Origin { FromStart = 0, FromCurrent = 1, FromEnd = 2 };

    virtual ~FileClass() = default;

    virtual const char* GetFileName() const = 0;
    virtual const char* SetFileName(const char* name) = 0;
    virtual bool Create() = 0;
    virtual bool Delete() = 0;
    virtual bool IsAvailable(bool forced = false) = 0;
    virtual bool IsOpen() const = 0;
    // Non-zero on success.
    virtual int Open(int rights = ReadOnly) = 0;
    virtual int Open(const char* name, int rights = ReadOnly) = 0;
    virtual int Read(void* buffer, int count) = 0;
    virtual int Seek(int offset, int origin = FromCurrent) = 0;
    virtual int Tell() { return Seek(0, FromCurrent); }
    virtual int Size() = 0;
    virtual int Write(const void* buffer, int count) = 0;
    virtual void Close() = 0;
    // DOS date in the high 16 bits, DOS time in the low 16 bits.
    virtual uint32_t GetDateTime() { return 0; }
    virtual bool SetDateTime(uint32_t) { return false; }
    // The hook through which every failure is reported.
    virtual void Error(int code, bool canRetry = false, const char* fileName = nullptr) = 0;
    virtual int GetFileHandle() const { return -1; }
    virtual void SetWindow(int start, int length) = 0;
    virtual bool HasWindow() const = 0;
};
