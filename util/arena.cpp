#include "util/arena.h"

#include <new>

Arena::Ref Arena::allocate(std::size_t size) {
    size = (size + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
    const bool ownBlock = size > BLOCK_SIZE / 4;  // a long record keeps the shared blocks dense
    if (ownBlock || BLOCK_SIZE - blockUsed_ < size) {
        if (blocks_.size() >= MAX_BLOCKS) throw std::bad_alloc();
        blocks_.emplace_back(new char[ownBlock ? size : BLOCK_SIZE]);
        if (ownBlock) return static_cast<Ref>((blocks_.size() - 1) << OFFSET_BITS);
        currentBlock_ = blocks_.size() - 1;
        blockUsed_ = 0;
    }
    const std::size_t offset = blockUsed_;
    blockUsed_ += size;
    return static_cast<Ref>((currentBlock_ << OFFSET_BITS) | (offset / ALIGNMENT));
}
