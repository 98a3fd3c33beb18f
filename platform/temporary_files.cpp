#include "platform/temporary_files.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<char*> pending{nullptr};
static_assert(std::atomic<char*>::is_always_lock_free, "read by signal handlers");

}  // namespace

std::string UniqueNames::next() {
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // splitmix64: consecutive states give unrelated names.
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t mixed = (state_ ^ (state_ >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    mixed ^= mixed >> 31;
    std::string suffix;
    for (int i = 0; i < 6; ++i, mixed /= 62) suffix += ALPHABET[mixed % 62];
    return suffix;
}

void setPendingRemoval(const std::string& path) {
    char* copy = nullptr;
    if (!path.empty()) {
        copy = new char[path.size() + 1];
        std::memcpy(copy, path.c_str(), path.size() + 1);
    }
    delete[] pending.exchange(copy);
}

const char* pendingRemoval() { return pending.load(); }
