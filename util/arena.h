// A slab allocator for many small records that live as long as their owner: one
// allocation per 64 KiB, records never move, and a record is named by a 32-bit
// reference as well as by its address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class Arena {
public:
    // Block index in the high bits, offset in units of ALIGNMENT in the low ones.
    using Ref = std::uint32_t;
    static constexpr unsigned OFFSET_BITS = 14;
    static constexpr std::size_t ALIGNMENT = 4;
    static constexpr std::size_t BLOCK_SIZE = ALIGNMENT << OFFSET_BITS;  // 64 KiB
    static constexpr Ref NO_REF = 0xFFFFFFFFu;                           // beyond the last block

    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Room for `size` bytes, aligned to ALIGNMENT. Throws std::bad_alloc when the
    // references run out (16 GiB of records).
    Ref allocate(std::size_t size);
    char* at(Ref ref) const {
        return blocks_[ref >> OFFSET_BITS].get() + (ref & ((Ref{1} << OFFSET_BITS) - 1)) * ALIGNMENT;
    }

private:
    static constexpr std::size_t MAX_BLOCKS = (std::size_t{1} << (32 - OFFSET_BITS)) - 1;

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t currentBlock_ = 0;          // the shared block being filled
    std::size_t blockUsed_ = BLOCK_SIZE;    // full: the first record opens a block
};
