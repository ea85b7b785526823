// Bitmap depth files in the browser build, in place of depth/bitmap_file.cpp:
// Emscripten's SDL has no bitmap codec of its own (it hands pictures to the
// browser to decode, later) nor SDL's stream callbacks, so the browser reads
// and writes no bitmaps and says so. Every other depth format works there.

#include "depth/bitmap_file.hpp"

namespace tolvane {

namespace {

constexpr char kNoBitmaps[] = "bitmap files are not supported in the browser build";

}  // namespace

DepthResult loadBitmapDepthMap(const char*) { return depthFailure(DepthStatus::CannotRead, kNoBitmaps); }

DepthResult decodeBitmapDepthMap(std::span<const std::uint8_t>) {
    return depthFailure(DepthStatus::CannotRead, kNoBitmaps);
}

DepthResult peekBitmapSize(std::span<const std::uint8_t>, std::int64_t&, std::int64_t&) {
    return depthFailure(DepthStatus::CannotRead, kNoBitmaps);
}

DepthOutcome saveDepthMapBitmap(const DepthMap&, const char*) {
    return failedOutcome(DepthStatus::CannotWrite, kNoBitmaps);
}

DepthOutcome writeDepthMapBitmap(const DepthMap&, StagedFile&) {
    return failedOutcome(DepthStatus::CannotWrite, kNoBitmaps);
}

DepthOutcome encodeDepthMapBitmap(const DepthMap&, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    return failedOutcome(DepthStatus::CannotWrite, kNoBitmaps);
}

}  // namespace tolvane
