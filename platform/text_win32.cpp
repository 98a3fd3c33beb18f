#include "platform/text.h"

std::u16string widenName(std::string_view narrow) { return widenBytes(narrow); }
