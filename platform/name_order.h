// The order in which both builds deliver directory entries: the order of an NTFS
// volume, so that one tree gives one resource file on every platform.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"

// Names with ASCII letters upper-cased, compared byte by byte; ties broken by the plain bytes.
bool precedesInNameOrder(const std::string& a, const std::string& b);

void sortInNameOrder(std::vector<DirEntry>& entries);
