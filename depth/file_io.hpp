#pragma once
// Whole-file reading with a size cap, and replacing a file without ever
// leaving it half written: the bytes go to a fresh temporary beside the
// target, which is renamed over the target only once it is complete. The
// result is otherwise what rewriting the file in place would give: a file
// that could not be opened for writing (read-only) is refused, a replaced
// file keeps its permissions, and a symbolic link keeps pointing at the
// file it names, which is the one replaced.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"

// Largest side of any depth map read from a file. A 16384-wide map is far
// beyond any screen this engine drives, and it keeps every size and offset
// well inside 32 bits.
inline constexpr std::int32_t kMaxDepthFileSide = 16384;

// False, with a reason, when a side read from a file is negative or above
// kMaxDepthFileSide.
bool checkDepthFileSize(std::int64_t width, std::int64_t height, std::string* why);

// A new map for a size read from a file: null, with a reason, when the size
// fails checkDepthFileSize or memory cannot be had.
DepthMapPtr createDepthMapForFile(std::int64_t width, std::int64_t height, std::string* why);

// Reads the whole file into `bytes`. False, with a reason, when it cannot be
// opened or read, or holds more than `maxBytes` bytes.
bool readFileBytes(const char* fileName, std::uint64_t maxBytes,
                   std::vector<std::uint8_t>& bytes, std::string* why);

// Sets `*why`, when the caller asked for a reason. Reasons are bare ("cannot
// open: No such file or directory"): the caller knows which file it named.
void setReason(std::string* why, std::string reason);

// A complete copy of a file's new contents, waiting beside the target under
// a unique temporary name. commit() renames it over the target; a staged
// file that is dropped without commit() removes its temporary, so the
// target keeps whatever it held before.
class StagedFile {
public:
    StagedFile() = default;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    ~StagedFile();

    // Writes and flushes `bytes` to disk under a temporary name. False, with
    // a reason, when any step fails; nothing is then left behind.
    bool stage(const char* fileName, std::span<const std::uint8_t> bytes, std::string* why);
    // Renames the temporary over the target.
    bool commit(std::string* why);

private:
    void discard();

    std::string target_;
    std::string temporary_;  // empty when nothing is waiting
};

// stage() then commit().
bool writeFileSafely(const char* fileName, std::span<const std::uint8_t> bytes,
                     std::string* why = nullptr);
