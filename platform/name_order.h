// The order in which both builds deliver directory entries: the order of an NTFS
// volume, so that one tree gives one resource file on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "raduza/format/name_order.h"
#include "util/arena.h"

// raduza's name order over the bytes of names (raduza/format/name_order.h).
using raduza::format::precedesInNameOrder;

void sortInNameOrder(std::vector<DirEntry>& entries);

// The entries of one directory listing, gathered and then handed out in name
// order. Each entry costs its name, up to eight bytes of padding and a pointer: a
// directory of 200,000 files is listed in a few MiB.
class SortedEntries {
public:
    SortedEntries() = default;
    SortedEntries(const SortedEntries&) = delete;
    SortedEntries& operator=(const SortedEntries&) = delete;

    // `name` is NUL-terminated, as directory listings deliver it.
    void add(const char* name, bool isDirectory, bool isHidden, bool isSystem);
    // Puts the entries in name order; adding more afterwards is not allowed.
    void sort();
    // Sorts, then visits the entries in name order until `visit` returns false.
    void visitInOrder(const EntryVisitor& visit);
    // Sorts, then gives the names in name order.
    std::vector<std::string> sortedNames();
    std::size_t size() const { return entries_.size(); }
    // Entry `index` of the order; once sorted, other threads may read these too.
    const char* nameAt(std::size_t index) const;
    bool isDirectoryAt(std::size_t index) const;

private:
    bool sorted_ = false;

    Arena names_;
    // Each is the address of a name, zero-padded to whole 8-byte words so that names
    // compare a word at a time, with the entry's flags in its three low bits (every
    // name starts at a multiple of 8). A deque grows without copying what it holds,
    // so its peak stays its size.
    std::deque<std::uintptr_t> entries_;
};
