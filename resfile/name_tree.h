// The registry of resource names stored so far, compared case-insensitively
// (ASCII letters only) as Windows compares resource names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "util/arena.h"

// An open-addressing hash set over name records in an arena: constant time per name
// whatever the order names arrive in, and about eight bytes beyond the name itself.
// Each slot keeps part of its name's hash beside the reference, so a probe reads a
// name only when the hashes agree, and growing reads none.
class NameTree {
public:
    NameTree() = default;
    NameTree(const NameTree&) = delete;
    NameTree& operator=(const NameTree&) = delete;

    // Where a name is, or where it would go: found by one probe, so a name looked
    // up before its file is stored is added later without a second search.
    struct Place {
        std::uint64_t hash = 0;
        std::size_t slot = 0;
        bool found = false;
    };
    Place find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key).found; }
    // Adds a copy of `key` at the place find() gave for it; nothing may have been
    // added since. No-op when the name was found.
    void insertAt(const Place& place, std::string_view key);
    // Adds a copy of `key`; false (and nothing added) when an equal name is present.
    bool insert(std::string_view key);
    std::size_t size() const { return count_; }

private:
    // A slot: the hash's high half, then the name's reference; EMPTY_SLOT where free.
    using Slot = std::uint64_t;
    static constexpr Slot EMPTY_SLOT = ~Slot{0};
    static Slot slotOf(std::uint64_t hash, Arena::Ref ref) { return (hash & 0xFFFFFFFF00000000ull) | ref; }

    // Index into slots_ where `key` is, or the free slot where it belongs.
    std::size_t findSlot(std::string_view key, std::uint64_t hash) const;
    // A record is the name's length (4 bytes) followed by its bytes.
    std::string_view nameAt(Arena::Ref ref) const;
    Arena::Ref copyName(std::string_view key);
    void grow();

    Arena records_;
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};
