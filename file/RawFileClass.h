#pragma once

#include "file/FileClass.h"
#include "foundation/StringClass.h"
#include "platform/FileSystem.h"

// A file on disk. Read, Write and Size open a closed file for the one call and
// close it again. A window restricts the file to a byte range of the
// underlying file; it takes effect at the next Open.
class RawFileClass : public FileClass {
public:
    RawFileClass();
    explicit RawFileClass(const char* name);
    ~RawFileClass() override;
    RawFileClass(const RawFileClass&) = delete;
    RawFileClass& operator=(const RawFileClass&) = delete;

    const char* GetFileName() const override;
    const char* SetFileName(const char* name) override;
    bool Create() override;
    bool Delete() override;
    bool IsAvailable(bool forced = false) override;
    bool IsOpen() const override;
    int Open(int rights = ReadOnly) override;
    int Open(const char* name, int rights = ReadOnly) override;
    int Read(void* buffer, int count) override;
    int Seek(int offset, int origin = FromCurrent) override;
    int Size() override;
    int Write(const void* buffer, int count) override;
    void Close() override;
    uint32_t GetDateTime() override;
    bool SetDateTime(uint32_t value) override;
    void Error(int code, bool canRetry = false, const char* fileName = nullptr) override;
    int GetFileHandle() const override;
    void SetWindow(int start, int length) override;
    bool HasWindow() const override;

protected:
    int OpenMode = 0;
    int WindowStart = 0;
    int WindowLength = -1;
    platform::FileHandle OsHandle = platform::InvalidFileHandle;
    int Reserved = 0;
    StringClass Path;
    // Where the open file stands, counted from WindowStart, kept by every
    // transfer so that a windowed read need not ask the system.
    int64_t WindowPosition = 0;

private:
    void RecoverWindowPosition();
};
