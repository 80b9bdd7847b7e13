#pragma once

#include <cstdint>

#include "foundation/StringClass.h"
#include "foundation/VectorClass.h"
#include "package/PackageFileInfo.h"

class ChunkReader;
class ChunkWriter;
class FileClass;

// A base that takes equality away from the class deriving from it.
template <class T>
class NoEqualsClass {
public:
    bool operator==(const T&) const = delete;
};

// The kind of event sent when a package's resources have become available.
struct ResourceAvailable {};

// An event of a given kind about one object.
template <class Kind, class T>
struct TypedEventPtr {
    T* subject = nullptr;
};

template <class Event>
class Notifier;

// Removes the first element equal to value, keeping the order of the others.
template <class T>
bool RemoveFirst(DynamicVectorClass<T>& list, const T& value) {
    const int found = list.IndexOf(value);
    if (found < 0) {
        return false;
    }
    for (int index = found; index + 1 < list.Count(); ++index) {
        list[index] = list[index + 1];
    }
    list.SetCount(list.Count() - 1);
    return true;
}

// The receiving side of a Notifier. It remembers the notifiers it is
// registered with, so that it can leave them all when it goes away.
template <class Event>
class Observer {
public:
    Observer() { Notifiers.SetGrowthStep(8); }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;
    virtual ~Observer() {
        DynamicVectorClass<Notifier<Event>*> registered;
        for (int index = 0; index < Notifiers.Count(); ++index) {
            registered.Add(Notifiers[index]);
        }
        for (int index = 0; index < registered.Count(); ++index) {
            registered[index]->RemoveObserver(*this);
        }
    }

    virtual void HandleNotification(Event& event) = 0;
    // Told by a notifier that it no longer holds this observer. An override
    // must call this one so that the list of notifiers stays true.
    virtual void NotifierRemoved(Notifier<Event>& notifier) {
        Notifier<Event>* pointer = &notifier;
        RemoveFirst(Notifiers, pointer);
    }

    void NotifierAdded(Notifier<Event>& notifier) {
        Notifier<Event>* pointer = &notifier;
        if (Notifiers.IndexOf(pointer) < 0) {
            Notifiers.Add(pointer);
        }
    }
    int GetNotifierCount() const { return Notifiers.Count(); }

private:
    DynamicVectorClass<Notifier<Event>*> Notifiers;
};

// Sends events to the observers registered with it, first registered first.
// It does not own them; when it goes away it tells each one, last first.
template <class Event>
class Notifier {
public:
    Notifier() { Observers.SetGrowthStep(8); }
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;
    virtual ~Notifier() {
        for (int index = Observers.Count() - 1; index >= 0; --index) {
            Observers[index]->NotifierRemoved(*this);
        }
        Observers.Clear();
    }

    // Works over a copy of the list, so an observer may leave during the call.
    virtual void NotifyObservers(Event& event) {
        DynamicVectorClass<Observer<Event>*> current;
        for (int index = 0; index < Observers.Count(); ++index) {
            current.Add(Observers[index]);
        }
        for (int index = 0; index < current.Count(); ++index) {
            current[index]->HandleNotification(event);
        }
    }
    virtual void AddObserver(Observer<Event>& observer) {
        Observer<Event>* pointer = &observer;
        if (Observers.IndexOf(pointer) >= 0) {
            return;
        }
        observer.NotifierAdded(*this);
        Observers.Add(pointer);
    }
    virtual void RemoveObserver(Observer<Event>& observer) {
        Observer<Event>* pointer = &observer;
        if (Observers.IndexOf(pointer) < 0) {
            return;
        }
        observer.NotifierRemoved(*this);
        RemoveFirst(Observers, pointer);
    }
    virtual bool HasObservers() const { return Observers.Count() > 0; }

private:
    DynamicVectorClass<Observer<Event>*> Observers;
};

// One installed or installable package: three texts, a revision and the list
// of its content files. Its identifier is HashName of its name, never stored.
class Package : public NoEqualsClass<Package>, public Notifier<TypedEventPtr<ResourceAvailable, Package>> {
public:
    static constexpr uint32_t DataChunkId = 0x44415441;
    static constexpr uint32_t FileChunkId = 0x46494C45;

    Package(const char* name, const char* version, const char* author);
    // Reads one record from the reader's current level until that level
    // holds no more chunks. Never fails: missing fields stay empty.
    explicit Package(ChunkReader& reader);
    // True when a package-info file, read from its start, ends inside a
    // chunk: a top-level chunk claims more bytes than the file holds, or the
    // bytes after the last whole chunk (too few for a chunk header, which the
    // reader passes over) begin a data or file chunk. A few other bytes at the
    // end, such as a newline an editor added, are not a cut. Leaves the file
    // at its start.
    static bool IsCutShort(FileClass& file);
    ~Package() override;

    // Writes the record at the writer's current level; false when any part of
    // it could not be written completely.
    bool Save(ChunkWriter& writer) const;

    const StringClass& GetName() const { return name; }
    // True when the record is the package `otherName`: its name equals it but
    // for ASCII letter case. A name that merely shares the identifier (one is
    // easily made) is another package, so a record read for a package must
    // pass this (and have a name at all).
    bool HasName(const char* otherName) const;
    // True when every listed size is one a file can have (not negative as a
    // 32-bit number); a record that lists another cannot be fetched or
    // checked, and is never registered or downloaded.
    bool HasPossibleSizes() const;
    const StringClass& GetVersion() const { return version; }
    const StringClass& GetAuthor() const { return author; }
    int32_t GetRevision() const { return revision; }
    int GetFileCount() const { return files.Count(); }
    const PackageFileInfo& GetFileInfo(int index) const { return files[index]; }
    void AddFile(const PackageFileInfo& info);

private:
    void ReadData(ChunkReader& reader);
    void ReadFileEntry(ChunkReader& reader);

    StringClass name;
    StringClass version;
    StringClass author;
    int32_t revision = 0;
    DynamicVectorClass<PackageFileInfo> files;
};

// Tells that the name `name` cannot be used because the package `holder`, of
// another name, has its identifier; no line end.
StringClass DescribeHeldIdentifier(const char* name, const char* holder);
