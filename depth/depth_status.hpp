#pragma once
// What became of reading, writing or converting a depth file: a status to
// branch on and a short detail for people. The detail names what was wrong
// ("run count 9 is beyond the 3 run bytes present") but not the file, which
// the caller knows; only a conversion's detail starts with the file's name.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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
    BadSize,           // a negative size, more pixels than a depth file may hold, or none
                       // where the output format needs some
    BadData,           // run data or pixel data that cannot describe the map
    Undecodable,       // SDL cannot decode the bitmap, or libpng the PNG
    TooLargeToWrite,   // the map is beyond what the output format can hold
    CannotReplace,     // the output may not be replaced: not a regular file, read-only, the input
                       // or the other output, another user's in a sticky folder, or reached
                       // through another user's link there
    CannotWrite,       // the temporary beside the output could not be made or written
};

// A fixed text for each status ("malformed run data").
const char* describe(DepthStatus status);

// A map's size as the details give it: "640 x 480".
std::string sizeText(std::int64_t width, std::int64_t height);

// Warnings are for a file that was read as its format says but probably not
// as its author meant (a bitmap whose palette is not a grey ramp, say): one
// line each, the remedy included, without the file's name. They never
// change the map or the status.
struct DepthResult {
    DepthMapPtr map;  // null unless status is Ok
    DepthStatus status = DepthStatus::Ok;
    std::string detail;
    std::vector<std::string> warnings;
    explicit operator bool() const { return status == DepthStatus::Ok; }
};

// The result of a writer, a conversion, or a step that fills a map it was
// given. A conversion passes on the warnings of the file it read, also when
// an output then failed.
struct DepthOutcome {
    DepthStatus status = DepthStatus::Ok;
    std::string detail;
    std::vector<std::string> warnings;
    explicit operator bool() const { return status == DepthStatus::Ok; }
};

inline DepthResult depthFailure(DepthStatus status, std::string detail) {
    DepthResult result;
    result.status = status;
    result.detail = std::move(detail);
    return result;
}
inline DepthOutcome failedOutcome(DepthStatus status, std::string detail) {
    DepthOutcome outcome;
    outcome.status = status;
    outcome.detail = std::move(detail);
    return outcome;
}

}  // namespace tolvane
