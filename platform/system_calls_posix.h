// The system calls through which the POSIX file system lists directories, reads
// files and opens the resource file's target, in one table, so that tests can make
// any of them fail where it is made, on the read-ahead's thread as well, or change
// the tree right after one. Each has the system call's meaning and errno.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>

class FileSystem;

class SystemCalls {
public:
    virtual ~SystemCalls() = default;
    // open() of a directory to list.
    virtual int openDirectory(const char* path);
    virtual int openAt(int directory, const char* name, int flags);
    // open() of the resource file's target, which may create it.
    virtual int openTarget(const char* path, int flags, mode_t mode);
    // fstat(): the size and identity of an open file.
    virtual int status(int fd, struct stat* st);
    virtual ssize_t read(int fd, void* buffer, std::size_t size);
    virtual int close(int fd);
    // Closes every descriptor from `first` to `last`; -1 (ENOSYS) where the system
    // cannot, and the caller closes them one by one.
    virtual int closeRange(int first, int last);

    // The system's own.
    static SystemCalls& direct();
};

// A POSIX file system reading through `calls`, which outlive it; realFileSystem()
// reads through SystemCalls::direct().
std::unique_ptr<FileSystem> makePosixFileSystem(SystemCalls& calls);
