#include "depth/depth_status.hpp"

namespace tolvane {

const char* describe(DepthStatus status) {
    switch (status) {
        case DepthStatus::Ok: return "no error";
        case DepthStatus::UnknownExtension: return "unknown extension";
        case DepthStatus::CannotOpen: return "cannot open the file";
        case DepthStatus::NotAFile: return "not a regular file or pipe";
        case DepthStatus::CannotRead: return "cannot read the file";
        case DepthStatus::TooLarge: return "file too large";
        case DepthStatus::OutOfMemory: return "out of memory";
        case DepthStatus::BadHeader: return "malformed header";
        case DepthStatus::BadSize: return "unacceptable map size";
        case DepthStatus::BadData: return "malformed pixel or run data";
        case DepthStatus::Undecodable: return "picture cannot be decoded";
        case DepthStatus::TooLargeToWrite: return "map too large for the output format";
        case DepthStatus::CannotReplace: return "output cannot be replaced";
        case DepthStatus::CannotWrite: return "output cannot be written";
    }
    return "unknown status";
}

std::string sizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace tolvane
