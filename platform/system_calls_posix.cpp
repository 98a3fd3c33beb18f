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

// ThreadSanitizer does not see close_range close the files: it would take the next
// file given one of those numbers, on another thread, for the one closed, and report
// a race. Under it every file is closed by a call of its own.
#if defined(__SANITIZE_THREAD__)
#define CLOSES_ONE_BY_ONE
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CLOSES_ONE_BY_ONE
#endif
#endif

int SystemCalls::closeRange(int first, int last) {
#if defined(__linux__) && !defined(CLOSES_ONE_BY_ONE)
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
