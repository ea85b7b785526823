#include "depth/indexed_bitmap.hpp"

namespace tolvane {

namespace {

void putLittle(std::vector<std::uint8_t>& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

DepthOutcome encodeIndexedBitmap(const DepthMap& image, const RgbPalette& palette,
                                 std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (image.pixels == nullptr || image.area.w < 1 || image.area.h < 1) {
        return failedOutcome(DepthStatus::BadSize, "the picture is empty");
    }
    const auto width = static_cast<std::uint32_t>(image.area.w);
    const auto height = static_cast<std::uint32_t>(image.area.h);
    const std::uint32_t rowBytes = (width + 3) & ~3u;
    constexpr std::uint32_t kHeaders = 14 + 40 + 256 * 4;
    const std::uint64_t fileSize = kHeaders + std::uint64_t{rowBytes} * height;
    if (fileSize > UINT32_MAX) {
        return failedOutcome(DepthStatus::TooLargeToWrite, "the picture is beyond the 4 GiB a bitmap can hold");
    }
    bytes.reserve(static_cast<std::size_t>(fileSize));
    bytes.push_back('B');
    bytes.push_back('M');
    putLittle(bytes, static_cast<std::uint32_t>(fileSize), 4);
    putLittle(bytes, 0, 4);         // reserved
    putLittle(bytes, kHeaders, 4);  // where the pixels start
    putLittle(bytes, 40, 4);        // BITMAPINFOHEADER
    putLittle(bytes, width, 4);
    putLittle(bytes, height, 4);    // positive: bottom row first
    putLittle(bytes, 1, 2);         // planes
    putLittle(bytes, 8, 2);         // bits per pixel
    putLittle(bytes, 0, 4);         // no compression
    putLittle(bytes, static_cast<std::uint32_t>(fileSize - kHeaders), 4);
    putLittle(bytes, 2835, 4);      // 72 dots per inch, both ways
    putLittle(bytes, 2835, 4);
    putLittle(bytes, 256, 4);       // colours used
    putLittle(bytes, 0, 4);         // all of them important
    for (const RgbColor& color : palette) {
        bytes.insert(bytes.end(), {color.blue, color.green, color.red, 0});
    }
    for (std::int32_t y = image.area.h - 1; y >= 0; --y) {
        const std::uint8_t* row = pixelAddress(image, 0, y);
        bytes.insert(bytes.end(), row, row + width);
        bytes.insert(bytes.end(), rowBytes - width, 0);
    }
    return {};
}

}  // namespace tolvane
