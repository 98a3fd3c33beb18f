// The registry of resource names stored so far, compared case-insensitively
// (ASCII letters only) as Windows compares resource names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// An open-addressing hash set over blocks of name records: constant time per name
// whatever the order names arrive in, and about eight bytes beyond the name itself.
class NameTree {
public:
    NameTree() = default;
    NameTree(const NameTree&) = delete;
    NameTree& operator=(const NameTree&) = delete;

    bool contains(std::string_view key) const;
    // Adds a copy of `key`; false (and nothing added) when an equal name is present.
    bool insert(std::string_view key);
    std::size_t size() const { return count_; }

private:
    // Where a record lies: its block, and its offset there in units of RECORD_ALIGNMENT.
    using NameRef = std::uint32_t;
    static constexpr unsigned OFFSET_BITS = 14;
    static constexpr std::size_t RECORD_ALIGNMENT = 4;
    static constexpr std::size_t BLOCK_SIZE = RECORD_ALIGNMENT << OFFSET_BITS;  // 64 KiB
    static constexpr std::size_t MAX_BLOCKS = (std::size_t{1} << (32 - OFFSET_BITS)) - 1;
    static constexpr NameRef EMPTY_SLOT = 0xFFFFFFFFu;  // beyond the last block

    // Index into slots_ where `key` is, or the free slot where it belongs.
    std::size_t findSlot(std::string_view key, std::size_t hash) const;
    // A record is the name's length (4 bytes) followed by its bytes.
    std::string_view nameAt(NameRef ref) const;
    NameRef copyName(std::string_view key);
    void grow();

    std::vector<std::unique_ptr<char[]>> blocks_;  // records never move
    std::size_t currentBlock_ = 0;                 // the shared block being filled
    std::size_t blockUsed_ = BLOCK_SIZE;
    std::vector<NameRef> slots_;                   // EMPTY_SLOT where free
    std::size_t count_ = 0;
};
