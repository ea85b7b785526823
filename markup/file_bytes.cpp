#include "markup/file_bytes.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

FileBytes failure(FileReadStatus status, std::string detail) {
    FileBytes result;
    result.status = status;
    result.detail = std::move(detail);
    return result;
}

std::string tooLarge(std::uint64_t maxBytes) {
    return "file is larger than " + std::to_string(maxBytes) + " bytes";
}

}  // namespace

const char* fileKindName(unsigned mode) {
    switch (mode & S_IFMT) {
        case S_IFREG: return "a regular file";
        case S_IFDIR: return "a directory";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
        case S_IFIFO: return "a named pipe";
        case S_IFSOCK: return "a socket";
        case S_IFLNK: return "a symbolic link";
        default: return "not a regular file";
    }
}

FileBytes readFileBytes(const char* fileName, std::uint64_t maxBytes) {
    if (fileName == nullptr) return failure(FileReadStatus::CannotOpen, "cannot open: no name given");
    // Opened without waiting, so that a pipe with no writer cannot hang the
    // open; reads wait again as usual, and such a pipe reads as empty.
    const FileDescriptor fd(::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return failure(FileReadStatus::CannotOpen, std::string("cannot open: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return failure(FileReadStatus::CannotRead, std::string("cannot read: ") + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
        return failure(FileReadStatus::NotAFile,
                       std::string("cannot read: it is ") + fileKindName(info.st_mode) +
                           ", not a file");
    }
    if (const int flags = ::fcntl(fd.get(), F_GETFL); flags >= 0) {
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    // The size is only a hint for the first allocation: the file may change
    // while it is read, and pipes have none. The cap bounds it either way.
    const std::uint64_t expected =
        S_ISREG(info.st_mode) && info.st_size > 0 ? std::uint64_t(info.st_size) : 0;
    if (expected > maxBytes) return failure(FileReadStatus::TooLarge, tooLarge(maxBytes));
    FileBytes result;
    std::vector<std::uint8_t>& bytes = result.bytes;
    try {
        bytes.resize(static_cast<std::size_t>(expected) + 1);
        std::size_t filled = 0;
        for (;;) {
            if (filled == bytes.size()) {
                if (filled > maxBytes) break;
                bytes.resize(static_cast<std::size_t>(
                    std::min<std::uint64_t>(2 * std::uint64_t(filled) + 4096, maxBytes + 1)));
            }
            const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
            if (got < 0) {
                if (errno == EINTR) continue;
                return failure(FileReadStatus::CannotRead,
                               std::string("cannot read: ") + std::strerror(errno));
            }
            if (got == 0) break;
            filled += static_cast<std::size_t>(got);
        }
        if (filled > maxBytes) return failure(FileReadStatus::TooLarge, tooLarge(maxBytes));
        bytes.resize(filled);
    } catch (const std::bad_alloc&) {
        return failure(FileReadStatus::OutOfMemory, "not enough memory to read the file");
    }
    return result;
}
