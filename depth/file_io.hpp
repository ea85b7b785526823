#pragma once
// The file handling shared by the depth formats: the size every map read
// from a file must respect, and replacing a file without ever leaving it
// half written. New contents go to a fresh temporary beside the target,
// which is renamed over the target only once it is complete.
//
// Only regular files are replaced. A missing target is created; a symbolic
// link is followed to the file it names (a dangling link creates that file
// and stays a link), except another user's link in a sticky folder anyone
// may write to, which the kernel would not follow either; a target that is
// a directory, device, pipe or socket is refused, as is a read-only file
// and, in a sticky folder, a file the caller may not rename over. A
// replaced file keeps its owner, group and permissions where the caller may
// set them. While a temporary exists, SIGINT, SIGTERM, SIGHUP and SIGQUIT
// remove it and end the process with status 128 + the signal, leaving the
// target as it was, and SIGXFSZ is ignored, so that a write over the size
// limit fails with the system's reason like any other.

#include <csignal>
#include <cstdint>
#include <span>
#include <string>

#include <sys/stat.h>

#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"
#include "io/file_bytes.hpp"

namespace tolvane {

// Most pixels a map read from a file may hold, whatever its shape: a map
// this size already takes 256 MiB, and every size and offset derived from
// it stays well inside 32 bits.
inline constexpr std::int64_t kMaxDepthFilePixels = std::int64_t{1} << 28;

// Ok (without a map) when a size read from a file is acceptable; BadSize
// when a side is negative or the map would pass kMaxDepthFilePixels.
DepthResult checkDepthFileSize(std::int64_t width, std::int64_t height);

// A new map for a size read from a file: BadSize as above, or OutOfMemory.
DepthResult createDepthMapForFile(std::int64_t width, std::int64_t height);

// The failure matching a whole-file read that did not succeed.
DepthResult fileReadFailure(const FileBytes& file);

// Holds back the signals that remove temporaries while in scope, around a
// sequence of commit() calls that must all happen or none: a signal that
// arrives meanwhile takes effect when the scope ends, after the last rename.
class InterruptsHeld {
public:
    InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;
    ~InterruptsHeld();

private:
    sigset_t previous_;
};

// A complete copy of a file's new contents, waiting beside the target under
// a unique temporary name. commit() renames it over the target; a staged
// file that is dropped without commit() removes its temporary, so the
// target keeps whatever it held before.
// Temporaries that may exist at once: one for each job of a render on up
// to 256 cores, and a few for everything else.
inline constexpr int kMaxStagedFiles = 264;

class StagedFile {
public:
    StagedFile() = default;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    ~StagedFile();

    // Checks that `fileName` may be replaced and creates the empty temporary
    // that will replace it. Everything a later rename could trip on (the
    // kind of target, its permission, the name's length, the folder) is
    // checked here, so outputs opened together are renamed all or none.
    DepthOutcome open(const char* fileName);
    // For a file that must not exist yet: the temporary goes beside
    // `fileName`, no link is followed, and commitNew() names it.
    DepthOutcome openNew(const char* fileName);
    // The temporary's descriptor between open() and finish(), for writers
    // that stream; -1 otherwise.
    int descriptor() const { return fd_; }
    DepthOutcome write(std::span<const std::uint8_t> bytes);
    // Overwrites bytes already written, `offset` bytes from the start.
    DepthOutcome writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Flushes the temporary to disk and closes it.
    DepthOutcome finish();
    // open(), write() and finish() in one.
    DepthOutcome stage(const char* fileName, std::span<const std::uint8_t> bytes);
    // Renames the finished temporary over the target.
    DepthOutcome commit();
    // Gives the finished temporary the name `fileName`, in the folder given
    // to openNew(), only if no entry holds that name yet; otherwise sets
    // `taken` and keeps the temporary for another name.
    DepthOutcome commitNew(const char* fileName, bool& taken);

    // After open(): whether `other` would replace the same file (links
    // followed on both sides), and whether the existing file `fileName`
    // names is the one this replaces.
    bool sameTarget(const StagedFile& other) const;
    bool replaces(const char* fileName) const;

private:
    void discard();
    DepthOutcome openTemporary(const struct stat* replaced);

    std::string target_;
    std::string temporary_;  // empty when nothing is waiting
    int fd_ = -1;
    int slot_ = -1;          // where the signal handlers find the temporary's name
    // The file replaced, or for a new one the folder it goes in.
    bool exists_ = false;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
};

// stage() then commit().
DepthOutcome writeFileSafely(const char* fileName, std::span<const std::uint8_t> bytes);

}  // namespace tolvane
