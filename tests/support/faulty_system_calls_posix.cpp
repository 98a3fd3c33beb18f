#include "tests/support/faulty_system_calls_posix.h"

#include <cerrno>

bool FaultySystemCalls::fails(FsOperation operation) {
    FaultyFileSystem* counting = faults.load();
    if (!counting || !counting->shouldFail(operation)) return false;
    errno = EIO;
    return true;
}

int FaultySystemCalls::openDirectory(const char* path) {
    return fails(FsOperation::LIST) ? -1 : SystemCalls::openDirectory(path);
}

int FaultySystemCalls::openAt(int directory, const char* name, int flags) {
    return fails(FsOperation::OPEN) ? -1 : SystemCalls::openAt(directory, name, flags);
}

int FaultySystemCalls::openTarget(const char* path, int flags, mode_t mode) {
    const int fd = SystemCalls::openTarget(path, flags, mode);
    if (fd >= 0 && afterTargetOpen) afterTargetOpen();
    return fd;
}

int FaultySystemCalls::status(int fd, struct stat* st) {
    if (fails(FsOperation::SIZE)) return -1;
    const int result = SystemCalls::status(fd, st);
    if (result == 0 && afterStatus) afterStatus(fd);
    return result;
}

ssize_t FaultySystemCalls::read(int fd, void* buffer, std::size_t size) {
    return fails(FsOperation::READ) ? -1 : SystemCalls::read(fd, buffer, size);
}

// Linux frees the descriptor even when close reports an error, and so does this.
int FaultySystemCalls::close(int fd) {
    const int result = SystemCalls::close(fd);
    return fails(FsOperation::CLOSE) ? -1 : result;
}

// A failed close_range has closed nothing: the caller closes each itself.
int FaultySystemCalls::closeRange(int first, int last) {
    return fails(FsOperation::CLOSE) ? -1 : SystemCalls::closeRange(first, last);
}
