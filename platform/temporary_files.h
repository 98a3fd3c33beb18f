// What both platforms need to make new files under unique names and to clean up
// after an interrupt: the name's random part, and the one file to remove.
#pragma once

#include <cstdint>
#include <string>

// Six characters for new files' names, different on every call. Seeded with
// something of the process (its id, the time), so processes differ too.
class UniqueNames {
public:
    explicit UniqueNames(std::uint64_t processSeed) : state_(processSeed * 0x9E3779B97F4A7C15ull) {}
    std::string next();

private:
    std::uint64_t state_;
};

// The unfinished file to remove should the process be interrupted; empty for none.
void setPendingRemoval(const std::string& path);
// Safe to call from a signal handler or a console control handler: a pointer read
// atomically. Null when there is nothing to remove.
const char* pendingRemoval();
