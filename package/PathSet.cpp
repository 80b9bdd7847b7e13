#include "package/PathSet.h"

#include <new>

namespace {

constexpr uint64_t Empty = 0;
constexpr size_t FirstCapacity = 1024;

// FNV-1a over every byte, then a final mix: content paths of different
// packages often differ only in a few checksum digits.
uint64_t Fingerprint(const char* path) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(path); *at != 0; ++at) {
        hash = (hash ^ *at) * 1099511628211ull;
    }
    hash ^= hash >> 29;
    hash *= 0xBF58476D1CE4E5B9ull;
    hash ^= hash >> 32;
    return hash == Empty ? 1 : hash;
}

}  // namespace

bool PathSet::Insert(const char* path) {
    if (2 * (Count + 1) > Capacity && !Grow()) {
        return false;
    }
    const uint64_t fingerprint = Fingerprint(path);
    uint64_t& slot = SlotOf(fingerprint);
    if (slot == Empty) {
        slot = fingerprint;
        ++Count;
    }
    return true;
}

bool PathSet::Contains(const char* path) const { return Capacity > 0 && SlotOf(Fingerprint(path)) != Empty; }

// The slot that holds the fingerprint, or the empty one where it would go.
uint64_t& PathSet::SlotOf(uint64_t fingerprint) const {
    size_t index = static_cast<size_t>(fingerprint) & (Capacity - 1);
    while (Slots[index] != Empty && Slots[index] != fingerprint) {
        index = (index + 1) & (Capacity - 1);
    }
    return Slots[index];
}

bool PathSet::Grow() {
    const size_t oldCapacity = Capacity;
    uint64_t* oldSlots = Slots;
    const size_t newCapacity = Capacity == 0 ? FirstCapacity : Capacity * 2;
    Slots = new (std::nothrow) uint64_t[newCapacity]();
    if (Slots == nullptr) {
        Slots = oldSlots;
        return false;
    }
    Capacity = newCapacity;
    for (size_t index = 0; index < oldCapacity; ++index) {
        if (oldSlots[index] != Empty) {
            SlotOf(oldSlots[index]) = oldSlots[index];
        }
    }
    delete[] oldSlots;
    return true;
}
