#include "package/PackageIndex.h"

#include <cstring>
#include <new>

#include "file/ChunkReader.h"
#include "file/ChunkWriter.h"
#include "file/FileClass.h"
#include "file/MemoryFile.h"
#include "foundation/StringClass.h"
#include "package/DirectoryStructure.h"
#include "package/DurableStore.h"
#include "package/FlatFilesystem.h"
#include "package/Package.h"
#include "package/StoreFailure.h"
#include "package/WholeFileRead.h"

namespace {

// A copy of a damaged index gets the first of these names that is free.
constexpr int MostDamagedCopies = 9999;

}  // namespace

void PackageIndex::Load(SimpleDynVecClass<Package*>& packages) {
    const StringClass path = Layout.GetDatabasePath();
    FileClass* file = Store.GetFile(path);
    const StringClass shown = QuotedPath(file->GetFileName());
    if (file->Open(FileClass::ReadOnly)) {
        if (!Read(*file, packages)) {
            Standing = State::Unreadable;
            NoteStoreFailure(FormatString("read %s", shown.Peek()));
        }
        file->Close();
    } else if (Store.FileExists(path)) {
        // Only a missing index is an empty registry.
        Standing = State::Unreadable;
        NoteStoreFailure(FormatString("open %s", shown.Peek()));
    }
    Store.ReturnFile(file);
}

// Reads the whole index, keeps its bytes and reads the packages from them.
// False when it could not be read whole.
bool PackageIndex::Read(FileClass& file, SimpleDynVecClass<Package*>& packages) {
    MemoryFile contents;
    if (!ReadWholeFile(file, LoadedBytes) || !FillMemoryFile(contents, LoadedBytes)) {
        LoadedBytes.clear();
        return false;
    }
    ChunkReader reader(&contents);
    while (reader.OpenChunk()) {
        Package* package = new (std::nothrow) Package(reader);
        if (package != nullptr && !packages.Add(package)) {
            delete package;
        }
        reader.CloseChunk();
    }
    // Lossless when the packages, written back, give the very same bytes:
    // anything the reader skipped or cut would be lost by the next save. They
    // are written over the copy they were read from, which is done with.
    contents.Seek(0, FileClass::FromStart);
    const bool rewritten = Write(packages, contents);
    const int rewrittenLength = contents.Seek(0, FileClass::FromCurrent);
    const bool lossless = rewritten && HoldsLoadedBytes(contents.GetData(), rewrittenLength);
    Standing = lossless ? State::Matching : State::Damaged;
    return true;
}

bool PackageIndex::Write(const SimpleDynVecClass<Package*>& packages, MemoryFile& contents) {
    ChunkWriter writer(&contents);
    bool complete = true;
    for (int index = 0; index < packages.Count(); ++index) {
        complete &= writer.BeginChunk(ChunkId);
        complete &= packages[index]->Save(writer);
        complete &= writer.EndChunk();
    }
    return complete;
}

bool PackageIndex::HoldsLoadedBytes(const char* bytes, int length) const {
    const size_t size = static_cast<size_t>(length);
    return size == LoadedBytes.size() && (size == 0 || std::memcmp(bytes, LoadedBytes.data(), size) == 0);
}

bool PackageIndex::Save(const SimpleDynVecClass<Package*>& packages, StringClass& keptCopyPath) {
    // The packages are changed only by adding and removing them: unchanged
    // since a lossless load or the last save, they are what the index holds.
    if (Standing == State::Matching) {
        return true;
    }
    if (ReadOnly || Standing == State::Unreadable || Standing == State::SaveFailed || Standing == State::Unavailable) {
        return false;
    }
    MemoryFile contents;
    contents.Reserve(static_cast<int>(LoadedBytes.size()));
    if (!Write(packages, contents)) {
        Standing = State::SaveFailed;
        return false;
    }
    // A save that would write what is already there writes nothing: the index
    // keeps its file, its time and the disk its quiet.
    if (Standing == State::Changed && HoldsLoadedBytes(contents.GetData(), contents.Size())) {
        Standing = State::Matching;
        return true;
    }
    if (!ReplaceOnDisk(contents, keptCopyPath)) {
        Standing = State::SaveFailed;
        return false;
    }
    LoadedBytes.assign(contents.GetData(), static_cast<size_t>(contents.Size()));
    Standing = State::Matching;
    return true;
}

// Puts the contents in the place of the index, after keeping a damaged one.
// `keptCopyPath` is set only when the whole replacement is durable.
bool PackageIndex::ReplaceOnDisk(MemoryFile& contents, StringClass& keptCopyPath) {
    StringClass copyPath;
    if (Standing == State::Damaged && !KeepDamagedCopy(copyPath)) {
        return false;
    }
    // The old index is replaced only by a new one known to be whole, and the
    // save counts only once the replacement is durable.
    if (!Durable.ReplaceWhole(Layout.GetDatabasePath(), contents.GetData(), contents.Size())) {
        return false;
    }
    keptCopyPath = copyPath;
    return true;
}

// Keeps the bytes of the index as it was loaded under the first free name of
// "packages.dat.damaged", ".damaged.2", ..., durably, before anything
// replaces the index.
bool PackageIndex::KeepDamagedCopy(StringClass& copyPath) {
    for (int number = 1; number <= MostDamagedCopies; ++number) {
        const StringClass candidate = Layout.GetDamagedIndexPath(number);
        if (Store.FileExists(candidate)) {
            continue;
        }
        if (!Durable.AddWhole(candidate, LoadedBytes.data(), static_cast<int>(LoadedBytes.size()))) {
            return false;
        }
        copyPath = candidate;
        return true;
    }
    return false;
}

// An index that is missing or damaged must be written whatever changes, and
// one that is not to be written stays so.
void PackageIndex::NoteChange() {
    if (Standing == State::Matching) {
        Standing = State::Changed;
    }
}
