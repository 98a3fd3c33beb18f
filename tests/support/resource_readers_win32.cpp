#include "tests/support/resource_readers.h"

std::string rejectionByResourceReaders(const std::string&) { return {}; }
