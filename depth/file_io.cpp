#include "depth/file_io.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace {

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

// --- Temporaries removed on interrupt -------------------------------------
//
// The handler may run at any instruction, so it touches only what is set up
// before it can run: fixed buffers holding the temporaries' names and flags
// saying which are in use. Slots change only while the signals are blocked.

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSlots = kMaxStagedFiles;
constexpr std::size_t kSlotBytes = PATH_MAX + 1;

char slotNames[kSlots][kSlotBytes];
volatile std::sig_atomic_t slotUsed[kSlots];
int slotsInUse = 0;
struct sigaction previousActions[std::size(kInterrupts)];
// Over the size limit (ulimit -f) a write would raise SIGXFSZ, whose default
// kills the process with its temporaries in place. Ignored while a
// temporary exists, the write fails instead with EFBIG and the system's own
// reason, and the temporary is removed like any other failed write.
struct sigaction previousFileSizeAction;
// Render jobs write from several threads: the slots change under this lock
// too, taken by InterruptsHeld (which one thread may hold more than once).
std::recursive_mutex slotsLock;

extern "C" void removeTemporariesAndExit(int signal) {
    for (int i = 0; i < kSlots; ++i) {
        if (slotUsed[i] != 0) ::unlink(slotNames[i]);
    }
    ::_exit(128 + signal);
}

// Call with the interrupts blocked. -1 when every slot is taken or the name
// does not fit one.
int takeSlot(const std::string& name) {
    if (name.size() >= kSlotBytes) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (slotUsed[i] != 0) continue;
        std::memcpy(slotNames[i], name.c_str(), name.size() + 1);
        // A handler running on another thread sees the name before the flag.
        std::atomic_thread_fence(std::memory_order_release);
        slotUsed[i] = 1;
        // The handler is there only while a temporary is, so a program
        // that writes nothing keeps its own (SDL's, in the demo).
        if (slotsInUse++ == 0) {
            struct sigaction action {};
            action.sa_handler = removeTemporariesAndExit;
            sigemptyset(&action.sa_mask);
            for (const int signal : kInterrupts) sigaddset(&action.sa_mask, signal);
            for (std::size_t s = 0; s < std::size(kInterrupts); ++s) {
                ::sigaction(kInterrupts[s], &action, &previousActions[s]);
                // An ignored signal stays ignored (nohup, a background job).
                if (previousActions[s].sa_handler == SIG_IGN) ::sigaction(kInterrupts[s], &previousActions[s], nullptr);
            }
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGXFSZ, &ignore, &previousFileSizeAction);
        }
        return i;
    }
    return -1;
}

// Call with the interrupts blocked.
void releaseSlot(int slot) {
    if (slot < 0 || slotUsed[slot] == 0) return;
    slotUsed[slot] = 0;
    if (--slotsInUse == 0) {
        for (std::size_t s = 0; s < std::size(kInterrupts); ++s) {
            ::sigaction(kInterrupts[s], &previousActions[s], nullptr);
        }
        ::sigaction(SIGXFSZ, &previousFileSizeAction, nullptr);
    }
}

// --- Where an output goes -------------------------------------------------

// Longest name of one directory entry where pathconf cannot tell.
constexpr std::size_t kLongestEntryName = 255;

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

struct Target {
    std::string path;  // the file to create or replace, links followed
    bool exists = false;
    struct stat info {};
    struct stat folder {};  // the folder `path` stands in
};

enum class Resolved { Ok, Failed, OthersLink };

bool statFolder(const std::string& path, struct stat& folder) {
    const std::string name = folderOf(path);
    return ::stat(name.empty() ? "." : name.c_str(), &folder) == 0;
}

bool stickyAndOpenToAll(const struct stat& folder) {
    return (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}

// The kernel follows a link in a sticky folder anyone may write to (/tmp)
// only for the link's owner or the folder's owner, so that nobody can plant
// a link there and turn someone else's write, root's above all, onto a
// file of their choosing. This writer follows links itself and renames over
// what they name, which the kernel never sees as following, so the same
// rule is applied here, to root as well.
bool mayFollow(const struct stat& link, const struct stat& folder) {
    return !stickyAndOpenToAll(folder) || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// Follows symbolic links the way opening the name for writing would, so a
// dangling link leads to the file it names, which is then created.
Resolved resolveTarget(const std::string& name, Target& target, int& error) {
    std::string path = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                error = errno;
                return Resolved::Failed;
            }
            target.path = path;
            target.exists = false;
            break;
        }
        if (!S_ISLNK(info.st_mode)) {
            target.path = path;
            target.exists = true;
            target.info = info;
            break;
        }
        struct stat folder {};
        if (!statFolder(path, folder)) {
            error = errno;
            return Resolved::Failed;
        }
        if (!mayFollow(info, folder)) return Resolved::OthersLink;
        char link[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), link, sizeof link);
        if (length < 0 || std::size_t(length) >= sizeof link) {
            error = length < 0 ? errno : ENAMETOOLONG;
            return Resolved::Failed;
        }
        const std::string destination(link, std::size_t(length));
        path = destination.front() == '/' ? destination : folderOf(path) + destination;
        if (hops == 39) {
            error = ELOOP;
            return Resolved::Failed;
        }
    }
    if (!statFolder(target.path, target.folder)) {
        error = errno;
        return Resolved::Failed;
    }
    return Resolved::Ok;
}

// In a sticky folder only the file's owner or the folder's owner may
// rename over a file. Root may as well, except that in a folder anyone may
// write to the kernel keeps even root out of a file owned by neither the
// caller nor the folder's owner. Checked before anything is written, so
// that a pair of outputs is never stopped halfway by the second rename.
bool mayReplace(const Target& target) {
    if (!target.exists || (target.folder.st_mode & S_ISVTX) == 0) return true;
    const uid_t caller = ::geteuid();
    if (target.info.st_uid == caller) return true;
    if (caller == 0) return !stickyAndOpenToAll(target.folder) || target.info.st_uid == target.folder.st_uid;
    return target.folder.st_uid == caller;
}

std::size_t longestEntryIn(const std::string& folder) {
    const long longest = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return longest > 0 ? std::size_t(longest) : kLongestEntryName;
}

// Creates a file that did not exist before, beside `target`: the same path
// with a suffix, so the final rename stays within one directory and cannot
// cross file systems. A target name already near the longest allowed is
// shortened first, so that any name that can be written can be replaced.
// The mode lets the umask decide, as for any new file.
int createTemporary(const std::string& target, std::string& name, int& slot) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = folderOf(target);
    const std::string entry = target.substr(folder.size());
    const std::size_t longest = longestEntryIn(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        name = folder + entry.substr(0, longest - std::min(suffix.size(), longest)) + suffix;
        const InterruptsHeld held;
        slot = takeSlot(name);
        if (slot < 0) {
            errno = name.size() >= kSlotBytes ? ENAMETOOLONG : EMFILE;
            return -1;
        }
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        const int error = errno;
        releaseSlot(slot);
        slot = -1;
        if (error != EEXIST) {
            errno = error;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

InterruptsHeld::InterruptsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kInterrupts) sigaddset(&set, signal);
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
    slotsLock.lock();
}

InterruptsHeld::~InterruptsHeld() {
    slotsLock.unlock();
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

DepthResult checkDepthFileSize(std::int64_t width, std::int64_t height) {
    if (width < 0 || height < 0) {
        return depthFailure(DepthStatus::BadSize, "negative size " + sizeText(width, height));
    }
    // Each side on its own first, so that the product cannot overflow.
    if (width > kMaxDepthFilePixels || height > kMaxDepthFilePixels ||
        width * height > kMaxDepthFilePixels) {
        return depthFailure(DepthStatus::BadSize, "size " + sizeText(width, height) + " is above " +
                                                      std::to_string(kMaxDepthFilePixels) +
                                                      " pixels in all");
    }
    return {};
}

DepthResult createDepthMapForFile(std::int64_t width, std::int64_t height) {
    DepthResult result = checkDepthFileSize(width, height);
    if (!result) return result;
    result.map = createDepthMap(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    if (!result.map) {
        return depthFailure(DepthStatus::OutOfMemory,
                            "not enough memory for a " + sizeText(width, height) + " map");
    }
    return result;
}

DepthResult fileReadFailure(const FileBytes& file) {
    switch (file.status) {
        case FileReadStatus::Ok: break;
        case FileReadStatus::CannotOpen: return depthFailure(DepthStatus::CannotOpen, file.detail);
        case FileReadStatus::NotAFile: return depthFailure(DepthStatus::NotAFile, file.detail);
        case FileReadStatus::CannotRead: return depthFailure(DepthStatus::CannotRead, file.detail);
        case FileReadStatus::TooLarge:
            return depthFailure(DepthStatus::TooLarge,
                                file.detail + ", more than any depth map of its kind needs");
        case FileReadStatus::OutOfMemory: return depthFailure(DepthStatus::OutOfMemory, file.detail);
    }
    return depthFailure(DepthStatus::CannotRead, "cannot read");
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      fd_(std::exchange(other.fd_, -1)),
      slot_(std::exchange(other.slot_, -1)),
      exists_(other.exists_),
      device_(other.device_),
      inode_(other.inode_) {}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        temporary_ = std::exchange(other.temporary_, {});
        fd_ = std::exchange(other.fd_, -1);
        slot_ = std::exchange(other.slot_, -1);
        exists_ = other.exists_;
        device_ = other.device_;
        inode_ = other.inode_;
    }
    return *this;
}

StagedFile::~StagedFile() { discard(); }

void StagedFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    const InterruptsHeld held;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    releaseSlot(slot_);
    slot_ = -1;
}

DepthOutcome StagedFile::open(const char* fileName) {
    discard();
    if (fileName == nullptr || *fileName == '\0') {
        return failedOutcome(DepthStatus::CannotWrite, "cannot create: " + errorText(ENOENT));
    }
    Target target;
    int error = 0;
    switch (resolveTarget(fileName, target, error)) {
        case Resolved::Ok: break;
        case Resolved::Failed: return failedOutcome(DepthStatus::CannotWrite, "cannot create: " + errorText(error));
        case Resolved::OthersLink:
            return failedOutcome(DepthStatus::CannotReplace,
                                 "cannot replace: it leads through another user's link in a sticky folder "
                                 "anyone may write to, which is not followed");
    }
    target_ = target.path;
    exists_ = target.exists;
    device_ = target.exists ? std::uint64_t(target.info.st_dev) : std::uint64_t(target.folder.st_dev);
    inode_ = target.exists ? std::uint64_t(target.info.st_ino) : std::uint64_t(target.folder.st_ino);
    // Only a regular file is ever replaced: renaming over a device or pipe
    // would swap a plain file in for it (as root, /dev/null itself).
    if (target.exists && !S_ISREG(target.info.st_mode)) {
        return failedOutcome(DepthStatus::CannotReplace,
                            std::string("cannot replace: it is ") + fileKindName(target.info.st_mode) +
                                ", not a regular file");
    }
    // A file its owner has made read-only could not be rewritten in place,
    // so it is not replaced either.
    if (target.exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        return failedOutcome(DepthStatus::CannotReplace, "cannot replace: " + errorText(errno));
    }
    if (!mayReplace(target)) {
        return failedOutcome(DepthStatus::CannotReplace,
                             "cannot replace: it belongs to another user in a sticky folder");
    }
    return openTemporary(target.exists ? &target.info : nullptr);
}

DepthOutcome StagedFile::openNew(const char* fileName) {
    discard();
    if (fileName == nullptr || *fileName == '\0') {
        return failedOutcome(DepthStatus::CannotWrite, "cannot create: " + errorText(ENOENT));
    }
    target_ = fileName;
    exists_ = false;
    return openTemporary(nullptr);
}

DepthOutcome StagedFile::openTemporary(const struct stat* replaced) {
    const std::string folder = folderOf(target_);
    if (target_.size() - folder.size() > longestEntryIn(folder)) {
        return failedOutcome(DepthStatus::CannotWrite, "cannot create: " + errorText(ENAMETOOLONG));
    }
    fd_ = createTemporary(target_, temporary_, slot_);
    if (fd_ < 0) {
        const int failure = errno;
        temporary_.clear();
        return failedOutcome(DepthStatus::CannotWrite,
                            "cannot create a temporary file beside it: " + errorText(failure));
    }
    if (replaced == nullptr) return {};
    // A replaced file keeps its owner and group where the caller may give
    // them (root replacing a user's file must not make it root's; a user may
    // at least keep a group they belong to), then its permissions, as it
    // would if rewritten in place: a private file must not become readable
    // by others. The owner goes first, as a change of owner clears set-id
    // bits.
    if (::fchown(fd_, replaced->st_uid, replaced->st_gid) != 0) {
        // Not allowed to give the file away: keep at least the group; when
        // even that is refused the caller's own stays, as for a new file.
        if (errno == EPERM) {
            [[maybe_unused]] const int groupKept = ::fchown(fd_, static_cast<uid_t>(-1), replaced->st_gid);
        }
    }
    if (::fchmod(fd_, replaced->st_mode & 0777) != 0) {
        const int failure = errno;
        discard();
        return failedOutcome(DepthStatus::CannotWrite, "cannot write: " + errorText(failure));
    }
    return {};
}

bool StagedFile::sameTarget(const StagedFile& other) const {
    if (exists_ != other.exists_ || device_ != other.device_ || inode_ != other.inode_) return false;
    // Two files yet to be made are the same when they have one name in one
    // folder.
    return exists_ || target_.substr(folderOf(target_).size()) == other.target_.substr(folderOf(other.target_).size());
}

bool StagedFile::replaces(const char* fileName) const {
    struct stat info {};
    return exists_ && fileName != nullptr && ::stat(fileName, &info) == 0 &&
           std::uint64_t(info.st_dev) == device_ && std::uint64_t(info.st_ino) == inode_;
}

DepthOutcome StagedFile::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return failedOutcome(DepthStatus::CannotWrite, "cannot write: nothing is open");
    if (!writeAll(fd_, bytes.data(), bytes.size())) {
        const int failure = errno;
        discard();
        return failedOutcome(DepthStatus::CannotWrite, "cannot write: " + errorText(failure));
    }
    return {};
}

DepthOutcome StagedFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return failedOutcome(DepthStatus::CannotWrite, "cannot write: nothing is open");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) {
            const int failure = errno;
            discard();
            return failedOutcome(DepthStatus::CannotWrite, "cannot write: " + errorText(failure));
        }
        done += static_cast<std::size_t>(written);
    }
    return {};
}

DepthOutcome StagedFile::finish() {
    if (fd_ < 0) return failedOutcome(DepthStatus::CannotWrite, "cannot write: nothing is open");
    // Flushed to the disk before the rename, so that a crash cannot leave an
    // empty file where the old one was.
    const bool synced = ::fsync(fd_) == 0;
    int failure = errno;
    const bool closed = ::close(std::exchange(fd_, -1)) == 0;
    if (synced) failure = errno;
    if (!synced || !closed) {
        discard();
        return failedOutcome(DepthStatus::CannotWrite, "cannot write: " + errorText(failure));
    }
    return {};
}

DepthOutcome StagedFile::stage(const char* fileName, std::span<const std::uint8_t> bytes) {
    DepthOutcome result = open(fileName);
    if (result) result = write(bytes);
    if (result) result = finish();
    return result;
}

DepthOutcome StagedFile::commit() {
    if (temporary_.empty() || fd_ >= 0) {
        return failedOutcome(DepthStatus::CannotWrite, "nothing was written");
    }
    const InterruptsHeld held;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int failure = errno;
        discard();
        return failedOutcome(DepthStatus::CannotWrite, "cannot replace: " + errorText(failure));
    }
    temporary_.clear();
    releaseSlot(slot_);
    slot_ = -1;
    return {};
}

DepthOutcome StagedFile::commitNew(const char* fileName, bool& taken) {
    taken = false;
    if (temporary_.empty() || fd_ >= 0) {
        return failedOutcome(DepthStatus::CannotWrite, "nothing was written");
    }
    const InterruptsHeld held;
    // The complete file takes the name at once, or not at all when any
    // entry holds it: no empty file ever stands under the name.
#if defined(__EMSCRIPTEN__)
    // The browser's in-memory file system has no exclusive rename.
    errno = ENOSYS;
    int result = -1;
#else
    int result = ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, fileName, RENAME_NOREPLACE);
#endif
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the exclusive rename: a second link is
        // just as exclusive, then the temporary's name goes.
        result = ::link(temporary_.c_str(), fileName);
        if (result == 0) ::unlink(temporary_.c_str());
    }
    if (result != 0) {
        const int failure = errno;
        if (failure == EEXIST) {
            taken = true;
            return failedOutcome(DepthStatus::CannotReplace, "cannot create: " + errorText(failure));
        }
        discard();
        return failedOutcome(DepthStatus::CannotWrite, "cannot create: " + errorText(failure));
    }
    temporary_.clear();
    releaseSlot(slot_);
    slot_ = -1;
    return {};
}

DepthOutcome writeFileSafely(const char* fileName, std::span<const std::uint8_t> bytes) {
    StagedFile file;
    DepthOutcome result = file.stage(fileName, bytes);
    if (result) result = file.commit();
    return result;
}

}  // namespace tolvane
