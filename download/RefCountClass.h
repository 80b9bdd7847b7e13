#pragma once

#include <cstdint>

// A reference count that starts at 1; the last Release deletes the object.
// Not synchronised: references are taken and dropped on one thread only.
class RefCountClass {
public:
    RefCountClass() = default;
    RefCountClass(const RefCountClass&) = delete;
    RefCountClass& operator=(const RefCountClass&) = delete;

    virtual void Delete();
    virtual ~RefCountClass() = default;

    void AddRef() { ++refCount; }
    void Release();
    int32_t GetRefCount() const { return refCount; }

protected:
    int32_t refCount = 1;
};
