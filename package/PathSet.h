#pragma once

#include <cstddef>
#include <cstdint>

// A set of paths kept as 64-bit fingerprints in one flat table (open
// addressing, never more than half full). A store of many packages lists
// hundreds of thousands of paths; a table of separately allocated strings
// spends its time waiting for memory. Two paths that share a fingerprint can
// only make a path look present that is not: a path inserted is never missed.
class PathSet {
public:
    PathSet() = default;
    ~PathSet() { delete[] Slots; }
    PathSet(const PathSet&) = delete;
    PathSet& operator=(const PathSet&) = delete;

    // False when memory ran out; the path is then not in the set.
    [[nodiscard]] bool Insert(const char* path);
    bool Contains(const char* path) const;

private:
    uint64_t& SlotOf(uint64_t fingerprint) const;
    bool Grow();

    uint64_t* Slots = nullptr;
    size_t Capacity = 0;
    size_t Count = 0;
};
