#pragma once
// Reading a whole input file into memory, bounded: the one reader behind
// depth files and world descriptions.
//
// Only regular files and named pipes are read. Anything else (a device, a
// directory, a socket) is refused before a byte is read, so a name linked
// to /dev/zero costs nothing. A pipe is opened without waiting for a writer,
// and one that has none reads as empty.

#include <cstdint>
#include <string>
#include <vector>

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
    explicit operator bool() const { return status == FileReadStatus::Ok; }
};

// The whole file, refusing more than `maxBytes` bytes.
FileBytes readFileBytes(const char* fileName, std::uint64_t maxBytes);

// What kind of file system object a stat mode names, for messages: "a
// directory", "a character device", ...
const char* fileKindName(unsigned mode);
