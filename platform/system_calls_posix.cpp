#include "platform/system_calls_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int SystemCalls::openDirectory(const char* path) { return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

int SystemCalls::openAt(int directory, const char* name, int flags) { return ::openat(directory, name, flags); }

int SystemCalls::openTarget(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

int SystemCalls::status(int fd, struct stat* st) { return ::fstat(fd, st); }

ssize_t SystemCalls::read(int fd, void* buffer, std::size_t size) { return ::read(fd, buffer, size); }

int SystemCalls::close(int fd) { return ::close(fd); }

int SystemCalls::closeRange(int first, int last) {
#ifdef __linux__
    // Linux's (and 5.9's on): one call for a run of descriptors.
    return ::close_range(static_cast<unsigned>(first), static_cast<unsigned>(last), 0);
#else
    (void)first;
    (void)last;
    errno = ENOSYS;
    return -1;
#endif
}

SystemCalls& SystemCalls::direct() {
    static SystemCalls calls;
    return calls;
}
