#pragma once
// Reading a whole input file into memory, bounded: the one reader behind
// depth files and world descriptions.
//
// Only regular files and named pipes are read. Anything else (a device, a
// directory, a socket) is refused before a byte is read, so a name linked
// to /dev/zero costs nothing. A pipe is opened without waiting for a writer,
// and one that has none reads as empty.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tolvane {

enum class FileReadStatus {
    Ok,
    CannotOpen,   // detail: the system's reason
    NotAFile,     // neither a regular file nor a pipe; detail says what it is
    CannotRead,   // detail: the system's reason
    TooLarge,     // more than the caller's cap
    OutOfMemory,
};

struct FileBytes {
    std::vector<std::uint8_t> bytes;  // empty unless status is Ok
    FileReadStatus status = FileReadStatus::Ok;
    // A short reason without the file name, e.g. "cannot open: No such file
    // or directory"; empty when status is Ok.
    std::string detail;
    // The whole file's size: more than bytes.size() when readUsableBytes
    // read only its start.
    std::uint64_t fileSize = 0;
    explicit operator bool() const { return status == FileReadStatus::Ok; }
};

// The whole file, refusing more than `maxBytes` bytes.
FileBytes readFileBytes(const char* fileName, std::uint64_t maxBytes);

// An input opened as readFileBytes opens it, for readers that stream from
// it instead: a descriptor (closed with the object) in blocking mode.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Ok, or the failure readFileBytes would give (CannotOpen, NotAFile,
    // CannotRead) with its detail; the bytes are left empty.
    FileBytes open(const char* fileName);
    int descriptor() const { return fd_; }
    // Hands the descriptor over; the caller closes it.
    int release();
    bool regular() const { return regular_; }
    std::uint64_t size() const { return size_; }  // 0 for a pipe

private:
    int fd_ = -1;
    bool regular_ = false;
    std::uint64_t size_ = 0;
};

// The rest of an opened input, as readFileBytes reads it.
FileBytes readFileBytes(const InputFile& file, std::uint64_t maxBytes);

// How many leading bytes of a file a reader can use, judged from its first
// bytes `head` and its size `fileSize`: 0 when `head` is too short to tell.
// An answer beyond the file's size means the whole file.
using UsableBytes = std::uint64_t (*)(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// As readFileBytes, but of a regular file only the bytes `usable` says a
// reader can use, so that a small image padded to a huge file costs a small
// read. A pipe is read whole, as its size is unknown; the cap applies to the
// whole file either way.
FileBytes readUsableBytes(const char* fileName, std::uint64_t maxBytes, UsableBytes usable);

// What kind of file system object a stat mode names, for messages: "a
// directory", "a character device", ...
const char* fileKindName(unsigned mode);

}  // namespace tolvane
