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

FileBytes InputFile::open(const char* fileName) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (fileName == nullptr) return failure(FileReadStatus::CannotOpen, "cannot open: no name given");
    // Opened without waiting, so that a pipe with no writer cannot hang the
    // open; reads wait again as usual, and such a pipe reads as empty.
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return failure(FileReadStatus::CannotOpen, std::string("cannot open: ") + std::strerror(errno));
    fd_ = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return failure(FileReadStatus::CannotRead, std::string("cannot read: ") + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
        return failure(FileReadStatus::NotAFile,
                       std::string("cannot read: it is ") + fileKindName(info.st_mode) + ", not a file");
    }
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    regular_ = S_ISREG(info.st_mode);
    size_ = regular_ && info.st_size > 0 ? std::uint64_t(info.st_size) : 0;
    return {};
}

FileBytes readFileBytes(const char* fileName, std::uint64_t maxBytes) {
    InputFile fd;
    if (FileBytes opened = fd.open(fileName); !opened) return opened;
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

FileBytes readUsableBytes(const char* fileName, std::uint64_t maxBytes, UsableBytes usable) {
    InputFile fd;
    if (FileBytes opened = fd.open(fileName); !opened) return opened;
    if (!fd.regular()) {
        FileBytes whole = readFileBytes(fd, maxBytes);
        whole.fileSize = whole.bytes.size();
        return whole;
    }
    const std::uint64_t size = fd.size();
    if (size > maxBytes) return failure(FileReadStatus::TooLarge, tooLarge(maxBytes));
    // The head grows until it tells how much is wanted; most headers are
    // told by the first chunk.
    constexpr std::uint64_t kFirstChunk = 64 * 1024;
    FileBytes result;
    std::vector<std::uint8_t>& bytes = result.bytes;
    try {
        std::uint64_t want = std::min(size, kFirstChunk);
        std::uint64_t needed = 0;
        std::size_t filled = 0;
        for (;;) {
            bytes.resize(static_cast<std::size_t>(want));
            while (filled < bytes.size()) {
                const ssize_t got = ::read(fd.descriptor(), bytes.data() + filled, bytes.size() - filled);
                if (got < 0) {
                    if (errno == EINTR) continue;
                    return failure(FileReadStatus::CannotRead, std::string("cannot read: ") + std::strerror(errno));
                }
                if (got == 0) break;
                filled += static_cast<std::size_t>(got);
            }
            // A file that shrank while read ends here, as readFileBytes ends.
            const bool atEnd = filled < bytes.size() || filled >= size;
            bytes.resize(filled);
            result.fileSize = filled < want ? filled : std::max<std::uint64_t>(size, filled);
            if (needed != 0 || atEnd) break;
            needed = usable(bytes, size);
            if (needed != 0 && needed <= filled) break;
            want = needed != 0 ? std::min(needed, size) : std::min(size, 2 * std::uint64_t(filled));
        }
        if (needed != 0 && needed < bytes.size()) bytes.resize(static_cast<std::size_t>(needed));
    } catch (const std::bad_alloc&) {
        return failure(FileReadStatus::OutOfMemory, "not enough memory to read the file");
    }
    return result;
}

}  // namespace tolvane
