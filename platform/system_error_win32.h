// The system's error codes as the Win32 platform layer reports them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/result.h"

// The system's words for an error code.
std::string describeError(DWORD code);
// Error `code` in the system's words, with whether a name was missing or access denied.
SystemError systemError(DWORD code);
