// The resource file's target on Win32, and what Ctrl-C or a closed console does
// to it: the output side of the Win32 file system.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"

// Turns a handle open for writing into an OutputFile that writes it (and does not close it).
using WrapHandle = std::function<std::unique_ptr<OutputFile>(HANDLE handle)>;

Result<std::unique_ptr<OutputTarget>> openWin32OutputTarget(const std::string& path, const WrapHandle& wrap);
// The target of a file the tool keeps beside its output (see FileSystem::openCompanionTarget).
Result<std::unique_ptr<OutputTarget>> openWin32CompanionTarget(const std::string& path, const WrapHandle& wrap);

// Installs the console control handler, which removes an unfinished new file, or
// empties a target written in place, before the process ends.
void installInterruptHandling();
