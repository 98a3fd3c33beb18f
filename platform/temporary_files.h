// What both platforms need to make new files under unique names and to clean up
// after an interrupt: the name's random part, and the one file to remove.
#pragma once

#include <cstdint>
#include <string>

// Six characters for a new file's name, different on every call; `seed` makes
// them differ between processes too.
std::string uniqueNameSuffix(std::uint64_t seed);

// The unfinished file to remove should the process be interrupted; empty for none.
void setPendingRemoval(const std::string& path);
// Safe to call from a signal handler or a console control handler: a pointer read
// atomically. Null when there is nothing to remove.
const char* pendingRemoval();
