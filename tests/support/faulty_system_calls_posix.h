// The POSIX file system's system calls for reading, failing where a FaultyFileSystem
// says: the listing, open, size, read and close steps, made by the walk or by the
// read-ahead's thread. An injected failure sets errno to EIO.
#pragma once

#include <atomic>
#include <functional>

#include "platform/system_calls_posix.h"
#include "tests/support/faulty_file_system.h"

class FaultySystemCalls final : public SystemCalls {
public:
    // Set once the FaultyFileSystem around the file system made with these exists;
    // until then nothing fails.
    std::atomic<FaultyFileSystem*> faults{nullptr};
    // Called after each successful status of an open file, with its descriptor: a
    // test may change the file there, between the size and the read.
    std::function<void(int fd)> afterStatus;
    // Called after each successful open of the resource file's target: a test may
    // change what its name names there, before the run looks at it again.
    std::function<void()> afterTargetOpen;

    int openDirectory(const char* path) override;
    int openAt(int directory, const char* name, int flags) override;
    int openTarget(const char* path, int flags, mode_t mode) override;
    int status(int fd, struct stat* st) override;
    ssize_t read(int fd, void* buffer, std::size_t size) override;
    int close(int fd) override;
    int closeRange(int first, int last) override;

private:
    bool fails(FsOperation operation);
};
