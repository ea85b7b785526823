#pragma once
// What became of reading, writing or converting a depth file: a status to
// branch on and a short detail for people. The detail names what was wrong
// ("run count 9 is beyond the 3 run bytes present") but not the file, which
// the caller knows; only a conversion's detail starts with the file's name.

#include <string>
#include <utility>

#include "depth/depth_map.hpp"

namespace tolvane {

enum class DepthStatus {
    Ok,
    UnknownExtension,  // the name holds none of the four extensions
    CannotOpen,        // the input is missing or unreadable
    NotAFile,          // the input is a device, directory or socket
    CannotRead,
    TooLarge,          // the input file is larger than any map of its kind needs
    OutOfMemory,
    BadHeader,         // truncated or not of the format
    BadSize,           // a negative size, or more pixels than a depth file may hold
    BadData,           // run data or pixel data that cannot describe the map
    Undecodable,       // SDL cannot decode the bitmap
    TooLargeToWrite,   // the map is beyond what the output format can hold
    CannotReplace,     // the output exists and is not a regular file, or is read-only
    CannotWrite,       // the temporary beside the output could not be made or written
};

// A fixed text for each status ("malformed run data").
const char* describe(DepthStatus status);

struct DepthResult {
    DepthMapPtr map;  // null unless status is Ok
    DepthStatus status = DepthStatus::Ok;
    std::string detail;
    explicit operator bool() const { return status == DepthStatus::Ok; }
};

// The result of a writer, a conversion, or a step that fills a map it was given.
struct DepthOutcome {
    DepthStatus status = DepthStatus::Ok;
    std::string detail;
    explicit operator bool() const { return status == DepthStatus::Ok; }
};

inline DepthResult depthFailure(DepthStatus status, std::string detail) {
    return DepthResult{nullptr, status, std::move(detail)};
}
inline DepthOutcome failedOutcome(DepthStatus status, std::string detail) {
    return DepthOutcome{status, std::move(detail)};
}

}  // namespace tolvane
