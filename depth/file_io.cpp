#include "depth/file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor when it leaves scope, unless release() took it.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string errorText(int error) { return std::strerror(error); }

// Every byte, through short writes and interrupted calls.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Longest name of one directory entry on the file systems we write to.
constexpr std::size_t kLongestEntryName = 255;

// Creates a file that did not exist before, beside `target`: the same path
// with a suffix, so the final rename stays within one directory and cannot
// cross file systems. A target name already near the longest allowed is
// shortened first, so that any name that can be written can be replaced.
// The mode lets the umask decide, as for any new file.
int createTemporary(const std::string& target, std::string& name) {
    static unsigned counter = 0;
    const std::size_t entry = target.rfind('/') + 1;  // 0 when there is no folder part
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        name = target.substr(0, entry) +
               target.substr(entry, kLongestEntryName - std::min(suffix.size(), kLongestEntryName)) + suffix;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

void setReason(std::string* why, std::string reason) {
    if (why != nullptr) *why = std::move(reason);
}

bool checkDepthFileSize(std::int64_t width, std::int64_t height, std::string* why) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width < 0 || height < 0) {
        setReason(why, "negative size " + size);
        return false;
    }
    if (width > kMaxDepthFileSide || height > kMaxDepthFileSide) {
        setReason(why, "size " + size + " is above " + std::to_string(kMaxDepthFileSide) +
                           " pixels on a side");
        return false;
    }
    return true;
}

DepthMapPtr createDepthMapForFile(std::int64_t width, std::int64_t height, std::string* why) {
    if (!checkDepthFileSize(width, height, why)) return nullptr;
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    DepthMapPtr map = createDepthMap(static_cast<std::int32_t>(width),
                                     static_cast<std::int32_t>(height));
    if (!map) setReason(why, "no memory for a " + size + " map");
    return map;
}

bool readFileBytes(const char* fileName, std::uint64_t maxBytes,
                   std::vector<std::uint8_t>& bytes, std::string* why) {
    bytes.clear();
    // Opened without waiting, so that a pipe with no writer cannot hang the
    // open; reads wait again as usual, and such a pipe reads as empty.
    FileDescriptor fd(::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        setReason(why, "cannot open: " + errorText(errno));
        return false;
    }
    if (const int flags = ::fcntl(fd.get(), F_GETFL); flags >= 0) {
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    // The size is only a hint for the first allocation: the file may change
    // while it is read, and pipes have none. The cap bounds it either way.
    struct stat info {};
    std::uint64_t expected = 0;
    if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        expected = static_cast<std::uint64_t>(info.st_size);
    }
    if (expected > maxBytes) {
        setReason(why, "file is larger than " + std::to_string(maxBytes) +
                                           " bytes, more than any depth map of its kind needs");
        return false;
    }
    bytes.resize(static_cast<std::size_t>(expected) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > maxBytes) break;
            const std::uint64_t grown = std::min<std::uint64_t>(2 * std::uint64_t(filled) + 4096,
                                                                maxBytes + 1);
            bytes.resize(static_cast<std::size_t>(grown));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            bytes.clear();
            setReason(why, "cannot read: " + errorText(error));
            return false;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    if (filled > maxBytes) {
        bytes.clear();
        setReason(why, "file is larger than " + std::to_string(maxBytes) +
                                           " bytes, more than any depth map of its kind needs");
        return false;
    }
    bytes.resize(filled);
    return true;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::exchange(other.temporary_, {})) {}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        temporary_ = std::exchange(other.temporary_, {});
    }
    return *this;
}

StagedFile::~StagedFile() { discard(); }

void StagedFile::discard() {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool StagedFile::stage(const char* fileName, std::span<const std::uint8_t> bytes,
                       std::string* why) {
    discard();
    // Writing to a symbolic link writes the file it names; the rename must
    // replace that file, not the link.
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(fileName, nullptr), &std::free);
    target_ = real ? real.get() : fileName;
    // What would stop the file being opened for writing must stop its
    // replacement too: a directory there, or a file its owner has made
    // read-only. Found now, a conversion with several outputs stays
    // all-or-nothing.
    struct stat info {};
    const bool exists = ::stat(target_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        setReason(why, "cannot replace: " + errorText(EISDIR));
        return false;
    }
    if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        setReason(why, "cannot replace: " + errorText(errno));
        return false;
    }
    std::string name;
    FileDescriptor fd(createTemporary(target_, name));
    if (fd.get() < 0) {
        setReason(why, "cannot create a temporary file beside it: " + errorText(errno));
        return false;
    }
    temporary_ = name;
    // A replaced file keeps its permissions, as it would if rewritten in
    // place: a private file must not become readable by others.
    if (exists && ::fchmod(fd.get(), info.st_mode & 0777) != 0) {
        const int error = errno;
        discard();
        setReason(why, "cannot write: " + errorText(error));
        return false;
    }
    // Flushed to the disk before the rename, so that a crash cannot leave an
    // empty file where the old one was.
    if (!writeAll(fd.get(), bytes.data(), bytes.size()) || ::fsync(fd.get()) != 0 ||
        ::close(fd.release()) != 0) {
        const int error = errno;
        discard();
        setReason(why, "cannot write: " + errorText(error));
        return false;
    }
    return true;
}

bool StagedFile::commit(std::string* why) {
    if (temporary_.empty()) {
        setReason(why, "nothing was written");
        return false;
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        discard();
        setReason(why, "cannot replace: " + errorText(error));
        return false;
    }
    temporary_.clear();
    return true;
}

bool writeFileSafely(const char* fileName, std::span<const std::uint8_t> bytes, std::string* why) {
    StagedFile file;
    return file.stage(fileName, bytes, why) && file.commit(why);
}
