#pragma once

#include <algorithm>
#include <climits>
#include <new>
#include <type_traits>

// An array of pointers. New slots start out zero (null), so no slot is ever
// read uninitialised.
template <class T>
class SimpleVecClass {
    static_assert(std::is_pointer_v<T>, "the elements are copied and compared as plain pointers");

public:
    explicit SimpleVecClass(int size = 0) {
        if (size > 0) {
            SimpleVecClass::Resize(size);
        }
    }
    SimpleVecClass(const SimpleVecClass&) = delete;
    SimpleVecClass& operator=(const SimpleVecClass&) = delete;
    virtual ~SimpleVecClass() { delete[] Elements; }

    virtual bool Resize(int newSize) {
        if (newSize == SlotCount) {
            return true;
        }
        if (newSize < 1) {
            delete[] Elements;
            Elements = nullptr;
            SlotCount = 0;
            return true;
        }
        T* fresh = new (std::nothrow) T[newSize]();
        if (fresh == nullptr) {
            return false;
        }
        const int kept = newSize < SlotCount ? newSize : SlotCount;
        if (kept > 0) {
            std::copy_n(Elements, kept, fresh);
        }
        delete[] Elements;
        Elements = fresh;
        SlotCount = newSize;
        return true;
    }

    // Makes room for newSize elements without keeping the old ones.
    virtual bool GrowDiscarding(int newSize) {
        if (SlotCount >= newSize || newSize <= 0) {
            return true;
        }
        T* fresh = new (std::nothrow) T[newSize]();
        if (fresh == nullptr) {
            return false;
        }
        delete[] Elements;
        Elements = fresh;
        SlotCount = newSize;
        return true;
    }

    T& operator[](int index) { return Elements[index]; }
    const T& operator[](int index) const { return Elements[index]; }
    int Length() const { return SlotCount; }

protected:
    T* Elements = nullptr;
    int SlotCount = 0;
};

// A SimpleVecClass with a count in use: grows by the larger of a quarter and
// 4 slots, and shrinks to the count when deletion leaves it under a quarter
// full. Deletion keeps the order of the remaining elements.
template <class T>
class SimpleDynVecClass : public SimpleVecClass<T> {
    using Base = SimpleVecClass<T>;

public:
    explicit SimpleDynVecClass(int size = 0) : Base(size) {}

    bool Resize(int newSize) override {
        if (!Base::Resize(newSize)) {
            return false;
        }
        if (UsedCount > this->SlotCount) {
            UsedCount = this->SlotCount;
        }
        return true;
    }

    bool Add(const T& value) {
        // Copied first: the value may be an element of the array that a
        // resize frees.
        const T kept = value;
        if (UsedCount >= this->SlotCount) {
            const int quarter = this->SlotCount / 4;
            const int step = quarter > 4 ? quarter : 4;
            if (this->SlotCount > INT_MAX - step || !Resize(this->SlotCount + step)) {
                return false;
            }
        }
        this->Elements[UsedCount++] = kept;
        return true;
    }

    bool Delete(int index) {
        if (index < 0 || index >= UsedCount) {
            return false;
        }
        for (int at = index; at + 1 < UsedCount; ++at) {
            this->Elements[at] = this->Elements[at + 1];
        }
        --UsedCount;
        if (UsedCount < this->SlotCount / 4) {
            Resize(UsedCount);
        }
        return true;
    }

    bool Delete(const T& value) {
        for (int index = 0; index < UsedCount; ++index) {
            if (this->Elements[index] == value) {
                return Delete(index);
            }
        }
        return false;
    }

    // Forgets every element; the storage goes too once it has 4 slots or more.
    void DeleteAll() {
        UsedCount = 0;
        if (this->SlotCount >= 4) {
            Resize(0);
        }
    }

    int Count() const { return UsedCount; }

private:
    int UsedCount = 0;
};
