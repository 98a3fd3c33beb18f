// The registry of resource names stored so far, compared case-insensitively
// (ASCII letters only) as Windows compares resource names.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// An open-addressing hash set over an arena of name bytes: constant time per name
// whatever the order names arrive in, and a few bytes beyond the name itself.
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
    static constexpr std::uint32_t EMPTY_SLOT = 0xFFFFFFFFu;
    static constexpr std::size_t BLOCK_SIZE = 64 * 1024;

    // Index into slots_ where `key` is, or the free slot where it belongs.
    std::size_t findSlot(std::string_view key, std::size_t hash) const;
    std::string_view nameAt(std::uint32_t index) const { return {names_[index], lengths_[index]}; }
    const char* copyName(std::string_view key);
    void grow();

    std::vector<std::unique_ptr<char[]>> blocks_;  // name bytes; blocks never move
    char* currentBlock_ = nullptr;
    std::size_t blockUsed_ = 0;
    std::vector<const char*> names_;
    std::vector<std::uint32_t> lengths_;
    std::vector<std::uint32_t> slots_;  // indexes into names_, EMPTY_SLOT where free
    std::size_t count_ = 0;
};
