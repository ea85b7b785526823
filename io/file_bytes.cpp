#include "io/file_bytes.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace {

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

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

int InputFile::release() { return std::exchange(fd_, -1); }

FileReadStatus InputFile::open(const char* fileName, std::string& detail) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (fileName == nullptr) {
        detail = "cannot open: no name given";
        return FileReadStatus::CannotOpen;
    }
    // Opened without waiting, so that a pipe with no writer cannot hang the
    // open; reads wait again as usual, and such a pipe reads as empty.
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        detail = std::string("cannot open: ") + std::strerror(errno);
        return FileReadStatus::CannotOpen;
    }
    fd_ = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        detail = std::string("cannot read: ") + std::strerror(errno);
        return FileReadStatus::CannotRead;
    }
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
        detail = std::string("cannot read: it is ") + fileKindName(info.st_mode) + ", not a file";
        return FileReadStatus::NotAFile;
    }
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    regular_ = S_ISREG(info.st_mode);
    size_ = regular_ && info.st_size > 0 ? std::uint64_t(info.st_size) : 0;
    return FileReadStatus::Ok;
}

FileBytes readFileBytes(const char* fileName, std::uint64_t maxBytes) {
    InputFile fd;
    std::string detail;
    if (const FileReadStatus opened = fd.open(fileName, detail); opened != FileReadStatus::Ok) {
        return failure(opened, std::move(detail));
    }
    return readFileBytes(fd, maxBytes);
}

FileBytes readFileBytes(const InputFile& fd, std::uint64_t maxBytes) {
    // The size is only a hint for the first allocation: the file may change
    // while it is read, and pipes have none. The cap bounds it either way.
    const std::uint64_t expected = fd.size();
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
            const ssize_t got = ::read(fd.descriptor(), bytes.data() + filled, bytes.size() - filled);
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

}  // namespace tolvane
