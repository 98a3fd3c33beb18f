// Writing an extracted file on POSIX: every step relative to a directory opened
// without following links, so nothing planted below the extraction directory (a
// link, a hard link, a FIFO) can send a write elsewhere or hold the run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "lister/extract_steps.h"
#include "lister/lister.h"

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

Extracted systemFailure(int error) { return {Refusal::NOT_WRITTEN, std::strerror(error)}; }

// What stands at `name` in `dir` and may not be used as `wanted` (S_IFDIR or S_IFREG).
Refusal inTheWay(int dir, const std::string& name, mode_t wanted) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Refusal::NONE;
    if (S_ISLNK(st.st_mode)) return Refusal::THROUGH_LINK;
    return (st.st_mode & S_IFMT) == wanted ? Refusal::NONE : Refusal::IN_THE_WAY;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// A directory of the extraction, held open: every step is taken relative to it.
class PosixDirectory {
public:
    Extracted open(const std::string& root) {
        // The extraction directory itself is the user's to name, links and all.
        dir_ = Descriptor(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return dir_.get() < 0 ? systemFailure(errno) : Extracted{};
    }

    Extracted enter(const std::u16string& component) {
        const std::string name = raduza::toUtf8(component);
        if (::mkdirat(dir_.get(), name.c_str(), 0777) != 0 && errno != EEXIST) return systemFailure(errno);
        Descriptor next(::openat(dir_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            const int error = errno;
            const Refusal refusal = inTheWay(dir_.get(), name, S_IFDIR);
            return refusal != Refusal::NONE ? Extracted{refusal, {}} : systemFailure(error);
        }
        dir_ = std::move(next);
        return {};
    }

    Refusal fileInTheWay(const std::u16string& name) const { return inTheWay(dir_.get(), raduza::toUtf8(name), S_IFREG); }

    Created create(const std::string& temporary, raduza::FileView bytes, Extracted& failure) {
        Descriptor file(::openat(dir_.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file.get() < 0 && errno == EEXIST) return Created::NAME_TAKEN;
        if (file.get() < 0) {
            failure = systemFailure(errno);
            return Created::FAILED;
        }
        const bool written = writeAll(file.get(), bytes.data(), bytes.size());
        const int error = errno;
        if (written && ::close(file.release()) == 0) return Created::WRITTEN;
        failure = systemFailure(written ? errno : error);
        ::unlinkat(dir_.get(), temporary.c_str(), 0);
        return Created::FAILED;
    }

    Extracted renameOver(const std::string& temporary, const std::u16string& name) {
        if (::renameat(dir_.get(), temporary.c_str(), dir_.get(), raduza::toUtf8(name).c_str()) == 0) return {};
        const int error = errno;
        ::unlinkat(dir_.get(), temporary.c_str(), 0);
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST) return {Refusal::IN_THE_WAY, {}};
        return systemFailure(error);
    }

private:
    Descriptor dir_;
};

}  // namespace

Extracted extractFile(const std::string& root, const RelativePath& relative, raduza::FileView bytes) {
    PosixDirectory directory;
    return extractThrough(directory, root, relative, bytes);
}
