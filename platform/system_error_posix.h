// The system's error numbers as the POSIX platform layer reports them.
#pragma once

#include "platform/result.h"

// errno `code` in the system's words, with whether a name was missing or access denied.
SystemError systemError(int code);
