#pragma once

#include <cstdint>

#include "file/FileFactoryClass.h"
#include "foundation/StringClass.h"
#include "foundation/VectorClass.h"

// One index entry of a MIX1 archive. Entries never compare equal.
struct FileInfoStruct {
    uint32_t CRC = 0;
    int32_t Offset = 0;
    int32_t Size = 0;
    bool operator==(const FileInfoStruct&) const { return false; }
};

// An archive addition; never used, since no archive is written.
struct AddInfoStruct {
    uint32_t First = 0;
    uint32_t Second = 0;
    bool operator==(const AddInfoStruct&) const { return false; }
};

// A file factory over one MIX1 archive: reads the index once and hands out
// file objects on the archive file windowed to one member, found by the name
// hash of the member's name. An unreadable archive finds nothing.
class MixFileFactoryClass : public FileFactoryClass {
public:
    MixFileFactoryClass(const char* archiveName, FileFactoryClass* baseFactory);
    ~MixFileFactoryClass() override;

    FileClass* GetFile(const char* name) override;
    void ReturnFile(FileClass* file) override;

    // Appends every name of the archive's name table, in table order. False
    // when the table could not be read whole (it runs past the end of the
    // file, a read fails); the names read before that are appended.
    [[nodiscard]] bool GetFileNames(DynamicVectorClass<StringClass>& list);

    // True when the index has an entry for the name, also one that GetFile
    // refuses because its offset is not valid.
    bool HasEntry(const char* name) const;
    // Where the member that GetFile would give lies in the archive file: its
    // start and its length. False for a name that GetFile refuses and for a
    // member that reaches past the end of a file of archiveSize bytes.
    bool FindMember(const char* name, int64_t archiveSize, int64_t& start, int64_t& length) const;

    bool IsValid = false;

private:
    const FileInfoStruct* FindEntry(const char* name) const;
    // The entry of a name that GetFile gives a window on; null for none.
    const FileInfoStruct* FindReadableEntry(const char* name) const;

    FileFactoryClass* SourceFactory;
    DynamicVectorClass<FileInfoStruct> Entries;
    StringClass ArchiveName;
    int StartOffset = 0;
    int EntryCount = 0;
    int NameTableOffset = 0;
    DynamicVectorClass<StringClass> NameList;
    // Nothing ever queues an addition or changes the archive: no archive is
    // written, so these stay empty and false.
    DynamicVectorClass<AddInfoStruct> QueuedAdditions;
    [[maybe_unused]] bool Changed = false;
};
