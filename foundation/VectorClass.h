#pragma once

#include <climits>
#include <cstdint>
#include <new>
#include <utility>

// A fixed number of value elements in one array, owned by the vector or
// placed in memory the caller supplies.
template <class T>
class VectorClass {
public:
    explicit VectorClass(int size = 0, void* memory = nullptr) {
        if (size > 0) {
            Resize(size, memory);
        }
    }
    VectorClass(const VectorClass& other) { *this = other; }
    VectorClass& operator=(const VectorClass& other) {
        if (this != &other) {
            Clear();
            if (other.SlotCount > 0 && Resize(other.SlotCount)) {
                for (int index = 0; index < SlotCount; ++index) {
                    Elements[index] = other.Elements[index];
                }
            }
        }
        return *this;
    }
    virtual ~VectorClass() { VectorClass::Clear(); }

    virtual bool operator==(const VectorClass& other) const {
        if (SlotCount != other.SlotCount) {
            return false;
        }
        for (int index = 0; index < SlotCount; ++index) {
            if (!(Elements[index] == other.Elements[index])) {
                return false;
            }
        }
        return true;
    }

    // Changes the slot count, keeping the first elements. `memory`, when given,
    // must hold newSize elements and stays the caller's.
    virtual bool Resize(int newSize, void* memory = nullptr) {
        if (newSize == 0) {
            Clear();
            return true;
        }
        if (newSize < 0) {
            return false;
        }
        Ready = false;
        T* fresh = nullptr;
        if (memory != nullptr) {
            fresh = static_cast<T*>(memory);
            for (int index = 0; index < newSize; ++index) {
                new (&fresh[index]) T();
            }
        } else {
            fresh = new (std::nothrow) T[newSize];
        }
        Ready = true;
        if (fresh == nullptr) {
            return false;
        }
        const int kept = newSize < SlotCount ? newSize : SlotCount;
        for (int index = 0; index < kept; ++index) {
            fresh[index] = std::move(Elements[index]);
        }
        ReleaseElements();
        Elements = fresh;
        SlotCount = newSize;
        OwnsElements = memory == nullptr;
        return true;
    }

    virtual void Clear() {
        ReleaseElements();
        Elements = nullptr;
        SlotCount = 0;
        OwnsElements = false;
    }

    virtual int IndexOf(const T& value) const {
        if (!Ready) {
            return 0;
        }
        for (int index = 0; index < SlotCount; ++index) {
            if (Elements[index] == value) {
                return index;
            }
        }
        return -1;
    }

    // Computed on addresses, so a pointer from elsewhere gives a meaningless
    // index rather than undefined pointer arithmetic.
    virtual int IndexFromPointer(const T* element) const {
        if (!Ready) {
            return 0;
        }
        const auto distance = reinterpret_cast<intptr_t>(element) - reinterpret_cast<intptr_t>(Elements);
        // The element type may itself be a pointer: its size is the unit here.
        return static_cast<int>(distance / static_cast<intptr_t>(sizeof(T)));  // NOLINT(bugprone-sizeof-expression)
    }

    T& operator[](int index) { return Elements[index]; }
    const T& operator[](int index) const { return Elements[index]; }
    int Length() const { return SlotCount; }
    bool IsValid() const { return Ready; }

protected:
    T* Elements = nullptr;
    int SlotCount = 0;
    bool Ready = true;
    bool OwnsElements = false;

private:
    void ReleaseElements() {
        if (Elements == nullptr) {
            return;
        }
        if (OwnsElements) {
            delete[] Elements;
        } else {
            for (int index = 0; index < SlotCount; ++index) {
                Elements[index].~T();
            }
        }
    }
};

// A VectorClass with a count of elements in use that grows by GrowBy slots
// (10 unless set) when an Add finds it full.
template <class T>
class DynamicVectorClass : public VectorClass<T> {
    using Base = VectorClass<T>;

public:
    explicit DynamicVectorClass(int size = 0, void* memory = nullptr) : Base(size, memory) {}
    // The count is cut to the slots the copy really got, in case its
    // allocation failed.
    DynamicVectorClass(const DynamicVectorClass& other)
        : Base(other), UsedCount(other.UsedCount), GrowBy(other.GrowBy) {
        SetCount(UsedCount);
    }
    DynamicVectorClass& operator=(const DynamicVectorClass& other) {
        Base::operator=(other);
        GrowBy = other.GrowBy;
        SetCount(other.UsedCount);
        return *this;
    }

    bool Resize(int newSize, void* memory = nullptr) override {
        if (!Base::Resize(newSize, memory)) {
            return false;
        }
        if (UsedCount > this->SlotCount) {
            UsedCount = this->SlotCount;
        }
        return true;
    }

    void Clear() override {
        UsedCount = 0;
        Base::Clear();
    }

    int IndexOf(const T& value) const override {
        if (!this->Ready) {
            return 0;
        }
        for (int index = 0; index < UsedCount; ++index) {
            if (this->Elements[index] == value) {
                return index;
            }
        }
        return -1;
    }

    bool Add(const T& value) {
        if (UsedCount < this->SlotCount) {
            this->Elements[UsedCount++] = value;
            return true;
        }
        if (!this->OwnsElements && this->SlotCount != 0) {
            return false;
        }
        if (GrowBy <= 0 || this->SlotCount > INT_MAX - GrowBy) {
            return false;
        }
        // The value may be one of this vector's own elements, which the
        // resize moves away; it is copied first.
        T kept(value);
        if (!Resize(this->SlotCount + GrowBy)) {
            return false;
        }
        this->Elements[UsedCount++] = std::move(kept);
        return true;
    }

    int Count() const { return UsedCount; }
    // Declares the first `count` slots in use (at most the slot count).
    void SetCount(int count) { UsedCount = count < 0 ? 0 : (count > this->SlotCount ? this->SlotCount : count); }
    void SetGrowthStep(int step) { GrowBy = step; }
    int GetGrowthStep() const { return GrowBy; }

private:
    int UsedCount = 0;
    int GrowBy = 10;
};
