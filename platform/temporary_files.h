// The random part of the names of new files, on both platforms.
#pragma once

#include <cstdint>
#include <string>

// Six letters and digits for new files' names, different on every call. Seeded
// with something of the process (its id, the time), so processes differ too.
class UniqueNames {
public:
    explicit UniqueNames(std::uint64_t processSeed) : state_(processSeed * 0x9E3779B97F4A7C15ull) {}
    std::string next();

private:
    std::uint64_t state_;
};
