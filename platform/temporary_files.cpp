#include "platform/temporary_files.h"

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
