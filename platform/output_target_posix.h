// The resource file's target on POSIX, and what an interrupt does to it: the
// output side of the POSIX file system.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/system_calls_posix.h"

// Turns a descriptor open for writing into the OutputFile that owns and writes it.
using WrapDescriptor = std::function<std::unique_ptr<OutputFile>(int fd)>;

// Opens the target through `calls`.
Result<std::unique_ptr<OutputTarget>> openPosixOutputTarget(SystemCalls& calls, const std::string& path,
                                                            const WrapDescriptor& wrap);
// The target of a file the tool keeps beside its output (see FileSystem::openCompanionTarget).
Result<std::unique_ptr<OutputTarget>> openPosixCompanionTarget(const std::string& path, const WrapDescriptor& wrap);

// Installs the handler of SIGINT, SIGTERM and SIGHUP, which removes an unfinished
// new file, or empties a target written in place, before the process dies of the
// signal; a failed write to a pipe or past a file-size limit becomes an error the
// run reports.
void installInterruptHandling();
