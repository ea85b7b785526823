// PNG files in the browser build, in place of depth/png_file.cpp, which
// needs libpng: the page saves its pictures with the browser's own encoder,
// and a world's PNG depth images are refused there with a reason. Every
// other depth format but bitmaps works in the browser.

#include "depth/png_file.hpp"

namespace tolvane {

namespace {

constexpr char kNoPng[] = "PNG files are not supported in the browser build";

RgbPlanes noPicture() {
    RgbPlanes none;
    none.status = DepthStatus::CannotRead;
    none.detail = kNoPng;
    return none;
}

}  // namespace

DepthOutcome encodeIndexedPng(const DepthMap&, const RgbPalette&, std::vector<std::uint8_t>& bytes,
                              const PngSettings&, PngRowGate*) {
    bytes.clear();
    return failedOutcome(DepthStatus::CannotWrite, kNoPng);
}

DepthOutcome encodeRgbPng(const DepthMap&, const DepthMap&, const DepthMap&, std::vector<std::uint8_t>& bytes,
                          const PngSettings&) {
    bytes.clear();
    return failedOutcome(DepthStatus::CannotWrite, kNoPng);
}

DepthResult decodePngDepthMap(std::span<const std::uint8_t>, int) {
    return depthFailure(DepthStatus::CannotRead, kNoPng);
}

DepthResult loadPngDepthMap(const char*, int, PngRowListener*) { return depthFailure(DepthStatus::CannotRead, kNoPng); }

DepthResult peekPngSize(std::span<const std::uint8_t>, std::int64_t&, std::int64_t&) {
    return depthFailure(DepthStatus::CannotRead, kNoPng);
}

RgbPlanes decodePngPicture(std::span<const std::uint8_t>) { return noPicture(); }

RgbPlanes loadPngPicture(const char*) { return noPicture(); }

}  // namespace tolvane
