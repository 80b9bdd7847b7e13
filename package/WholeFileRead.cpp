#include "package/WholeFileRead.h"

#include "file/FileClass.h"
#include "file/MemoryFile.h"

bool ReadWholeFile(FileClass& file, std::string& bytes) {
    const int size = file.Size();
    if (size < 0) {
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (file.Read(bytes.data(), size) != size) {
        bytes.clear();
        return false;
    }
    return true;
}

bool FillMemoryFile(MemoryFile& contents, const std::string& bytes) {
    const int size = static_cast<int>(bytes.size());
    if (!contents.Reserve(size) || contents.Write(bytes.data(), size) != size) {
        return size == 0;
    }
    contents.Seek(0, FileClass::FromStart);
    return true;
}
