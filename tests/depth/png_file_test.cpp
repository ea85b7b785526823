// PNG files as depth maps and as pictures: every kind libpng writes, the
// level mapping, the size limits taken from the header, and files that are
// cut short or damaged.

#include "depth/png_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "depth/depth_file.hpp"
#include "depth_file_fixtures.hpp"
#include "png_fixtures.hpp"

using namespace tolvane;

namespace {

constexpr int kWidth = 5;  // odd, so packed rows of 1, 2 and 4 bits end mid-byte
constexpr int kHeight = 3;

// 15 levels within a kind's range, from 0 to its top, in no order; at most
// 15 distinct, so a 4-bit palette holds them.
std::vector<std::uint16_t> levelsFor(int range) {
    std::vector<std::uint16_t> levels;
    for (int i = 0; i < kWidth * kHeight; ++i) levels.push_back(static_cast<std::uint16_t>((i * 7919 + 5) % range));
    levels[3] = 0;
    levels[11] = static_cast<std::uint16_t>(range - 1);
    return levels;
}

int rangeOf(const png_fixture::Kind& kind) {
    return kind.colorType == PNG_COLOR_TYPE_PALETTE ? 256 : 1 << kind.bitDepth;
}

// What a level of a `bitDepth`-bit grey sample becomes with `levels`
// depths: 1-, 2- and 4-bit grey widened to 8 bits first.
std::uint8_t expectedDepth(std::uint32_t v, int bitDepth, int levels) {
    if (bitDepth < 8) v = v * 255 / ((1u << bitDepth) - 1);
    const std::uint32_t range = bitDepth == 16 ? 65536 : 256;
    return static_cast<std::uint8_t>(v * static_cast<std::uint32_t>(levels) / range);
}

TEST(PngDepthTest, EveryKindGivesItsGreyLevelsInTheAskedDepths) {
    for (const png_fixture::Kind& kind : png_fixture::everyKind()) {
        SCOPED_TRACE(kind.label);
        const int range = rangeOf(kind);
        std::vector<std::uint16_t> levels = levelsFor(range);
        // A palette's samples are greys, 8 bits each, whatever the index size.
        const bool palette = kind.colorType == PNG_COLOR_TYPE_PALETTE;
        const Bytes file = png_fixture::greyAs(kind, kWidth, kHeight, levels);
        ASSERT_FALSE(file.empty());
        const int bitDepth = palette ? 8 : kind.bitDepth;
        for (const int depthLevels : {32, 2, 7, 256}) {
            const DepthResult result = decodePngDepthMap(file, depthLevels);
            ASSERT_TRUE(result) << result.detail;
            ASSERT_EQ(result.map->area.w, kWidth);
            ASSERT_EQ(result.map->area.h, kHeight);
            Bytes expected;
            for (const std::uint16_t v : levels) expected.push_back(expectedDepth(v, bitDepth, depthLevels));
            EXPECT_EQ(pixelsOf(*result.map), expected) << depthLevels << " levels";
        }
    }
}

TEST(PngDepthTest, ThirtyTwoLevelsAreTheTopFiveBits) {
    const png_fixture::Kind grey8{"grey 8-bit", PNG_COLOR_TYPE_GRAY, 8};
    const png_fixture::Kind grey16{"grey 16-bit", PNG_COLOR_TYPE_GRAY, 16};
    const std::vector<std::uint16_t> eight = {0, 7, 8, 255, 248, 247};
    const std::vector<std::uint16_t> sixteen = {0, 2047, 2048, 65535, 63488, 63487};
    EXPECT_EQ(pixelsOf(*decodePngDepthMap(png_fixture::greyAs(grey8, 3, 2, eight)).map), (Bytes{0, 0, 1, 31, 31, 30}));
    EXPECT_EQ(pixelsOf(*decodePngDepthMap(png_fixture::greyAs(grey16, 3, 2, sixteen)).map),
              (Bytes{0, 0, 1, 31, 31, 30}));
    // Colour is grey by luminance, not by its first channel: pure red is
    // dark (libpng weighs red by about 0.21), pure green light.
    const png_fixture::Kind rgb{"RGB 8-bit", PNG_COLOR_TYPE_RGB, 8};
    const DepthResult colour = decodePngDepthMap(png_fixture::make(rgb, 2, 1, {255, 0, 0, 0, 255, 0}));
    ASSERT_TRUE(colour) << colour.detail;
    EXPECT_EQ(pixelsOf(*colour.map), (Bytes{6, 22}));
}

TEST(PngDepthTest, PicturesComeAsRgbPlanesAndEncodeBackExactly) {
    // 3 x 2 RGBA, 16 bits: each plane keeps the high byte, alpha goes.
    const png_fixture::Kind rgba{"RGBA 16-bit", PNG_COLOR_TYPE_RGB_ALPHA, 16};
    std::vector<std::uint16_t> samples;
    for (int i = 0; i < 6; ++i) {
        samples.insert(samples.end(), {static_cast<std::uint16_t>(i * 0x1111), static_cast<std::uint16_t>(0xff00 - i * 0x0101),
                                       static_cast<std::uint16_t>(0x8000 + i), static_cast<std::uint16_t>(i)});
    }
    const RgbPlanes picture = decodePngPicture(png_fixture::make(rgba, 3, 2, samples));
    ASSERT_TRUE(picture) << picture.detail;
    EXPECT_EQ(pixelsOf(*picture.planes[0]), (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(pixelsOf(*picture.planes[1]), (Bytes{0xff, 0xfd, 0xfc, 0xfb, 0xfa, 0xf9}));
    EXPECT_EQ(pixelsOf(*picture.planes[2]), (Bytes{0x80, 0x80, 0x80, 0x80, 0x80, 0x80}));

    // Grey fills all three planes.
    const png_fixture::Kind grey{"grey 4-bit", PNG_COLOR_TYPE_GRAY, 4};
    const RgbPlanes greyPicture = decodePngPicture(png_fixture::make(grey, 3, 1, {0, 1, 15}));
    ASSERT_TRUE(greyPicture) << greyPicture.detail;
    for (const DepthMapPtr& plane : greyPicture.planes) EXPECT_EQ(pixelsOf(*plane), (Bytes{0, 17, 255}));

    Bytes encoded;
    ASSERT_TRUE(encodeRgbPng(*picture.planes[0], *picture.planes[1], *picture.planes[2], encoded));
    const RgbPlanes again = decodePngPicture(encoded);
    ASSERT_TRUE(again) << again.detail;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(pixelsOf(*again.planes[c]), pixelsOf(*picture.planes[c])) << c;
    const DepthMapPtr other = createDepthMap(2, 2);
    EXPECT_EQ(encodeRgbPng(*picture.planes[0], *other, *picture.planes[2], encoded).status, DepthStatus::BadSize);
}

// The CRC-32 every PNG chunk ends with (bitwise: speed does not matter).
std::uint32_t chunkCrc(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG of only a signature, an IHDR for the given sides and an empty IDAT:
// libpng reads up to the pixel data before the size is judged.
Bytes headerOnly(std::uint32_t width, std::uint32_t height) {
    Bytes bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (const std::uint32_t side : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(side >> shift));
    }
    bytes.insert(bytes.end(), {8, 0, 0, 0, 0});  // 8-bit grey, no interlace
    const std::uint32_t crc = chunkCrc(bytes.data() + 12, 17);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(crc >> shift));
    bytes.insert(bytes.end(), {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xaf, 0x06, 0x1e});
    return bytes;
}

TEST(PngDepthTest, SizesAreJudgedFromTheHeaderBeforeAnyPixel) {
    struct Case {
        std::uint32_t width, height;
        DepthStatus status;
    };
    const Case cases[] = {
        {16384, 16384, DepthStatus::Undecodable},      // allowed, then no pixel data
        {16384, 16385, DepthStatus::BadSize},          // one row past 2^28 pixels
        {(1u << 24) + 1, 1, DepthStatus::Undecodable},  // wider than libpng is let decode
        {1, (1u << 28) + 1, DepthStatus::Undecodable},
    };
    for (const Case& c : cases) {
        const DepthResult result = decodePngDepthMap(headerOnly(c.width, c.height));
        EXPECT_EQ(result.status, c.status) << c.width << " x " << c.height << ": " << result.detail;
        std::int64_t width = 0;
        std::int64_t height = 0;
        EXPECT_EQ(bool(peekPngSize(headerOnly(c.width, c.height), width, height)),
                  std::int64_t{c.width} * c.height <= (std::int64_t{1} << 28));
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
    }
    std::int64_t width = 0;
    std::int64_t height = 0;
    EXPECT_EQ(peekPngSize(Bytes(kBitmap24), width, height).status, DepthStatus::BadHeader);
}

TEST(PngDepthTest, CutOrDamagedFilesAreRefusedWithLibpngsReason) {
    const png_fixture::Kind grey{"grey 8-bit", PNG_COLOR_TYPE_GRAY, 8};
    const Bytes file = png_fixture::greyAs(grey, kWidth, kHeight, levelsFor(256));
    for (std::size_t size = 0; size < file.size(); ++size) {
        const DepthResult result = decodePngDepthMap(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_EQ(result.status, DepthStatus::Undecodable) << size;
        EXPECT_EQ(result.detail.rfind("cannot decode PNG: ", 0), 0u) << size << ": " << result.detail;
        EXPECT_EQ(result.map, nullptr);
        EXPECT_FALSE(decodePngPicture(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size))));
    }
    Bytes damaged = file;
    damaged[17] ^= 0x01;  // the width: the header's CRC no longer matches
    const DepthResult result = decodePngDepthMap(damaged);
    EXPECT_EQ(result.status, DepthStatus::Undecodable);
    EXPECT_EQ(result.detail, "cannot decode PNG: IHDR: CRC error");
}

TEST(PngDepthTest, OwnFormsTakeTheLevelsToo) {
    ScratchFolder folder;
    writeText(folder.file("d.txt"), "4 1\n 9FU\n");  // 0, 9, 16, 31
    const png_fixture::Kind grey{"grey 8-bit", PNG_COLOR_TYPE_GRAY, 8};
    writeBytes(folder.file("d.png"), png_fixture::greyAs(grey, 4, 1, {0, 72, 128, 255}));
    for (const char* name : {"d.txt", "d.png"}) {
        SCOPED_TRACE(name);
        const std::string path = folder.file(name);
        EXPECT_EQ(pixelsOf(*loadDepthLevels(path.c_str(), 32).map), (Bytes{0, 9, 16, 31}));
        EXPECT_EQ(pixelsOf(*loadDepthLevels(path.c_str(), 2).map), (Bytes{0, 0, 1, 1}));
        EXPECT_EQ(pixelsOf(*loadDepthMap(path.c_str()).map), (Bytes{0, 9, 16, 31}));
    }
    // 100 levels: a text depth d gives floor(d x 100 / 32), a PNG level v
    // floor(v x 100 / 256), so 31 and 255 part.
    EXPECT_EQ(pixelsOf(*loadDepthLevels(folder.file("d.txt").c_str(), 100).map), (Bytes{0, 28, 50, 96}));
    EXPECT_EQ(pixelsOf(*loadDepthLevels(folder.file("d.png").c_str(), 100).map), (Bytes{0, 28, 50, 99}));
    EXPECT_EQ(loadDepthLevels(folder.file("none.png").c_str(), 32).status, DepthStatus::CannotOpen);
    EXPECT_EQ(loadDepthLevels(folder.file("d.gif").c_str(), 32).status, DepthStatus::UnknownExtension);
}

}  // namespace
