#include "depth/bitmap_file.hpp"

#include <SDL.h>
#include <gtest/gtest.h>

#include <memory>

#include "depth_file_fixtures.hpp"

using namespace tolvane;

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// The fixtures' 3 x 2 bitmap stored top row first, as a negative height says.
Bytes topDownBitmap() {
    Bytes bytes(kBitmap24.begin(), kBitmap24.begin() + 54);
    bytes[22] = 0xFE;
    bytes[23] = bytes[24] = bytes[25] = 0xFF;
    bytes.insert(bytes.end(), kBitmap24.begin() + 66, kBitmap24.end());
    bytes.insert(bytes.end(), kBitmap24.begin() + 54, kBitmap24.begin() + 66);
    return bytes;
}

Bytes withLe32(Bytes bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(value >> (8 * i));
    return bytes;
}

// The file SDL writes for `surface`.
Bytes bitmapOf(SDL_Surface* surface) {
    Bytes bytes(1 << 16);
    SDL_RWops* stream = SDL_RWFromMem(bytes.data(), int(bytes.size()));
    EXPECT_EQ(SDL_SaveBMP_RW(surface, stream, 0), 0) << SDL_GetError();
    bytes.resize(std::size_t(SDL_RWtell(stream)));
    SDL_RWclose(stream);
    return bytes;
}

// An 8-bit surface holding these palette indices, its palette all black:
// only the index may decide.
SurfacePtr indexedSurface(int width, int height, const Bytes& indices) {
    SurfacePtr surface(SDL_CreateRGBSurface(0, width, height, 8, 0, 0, 0, 0));
    SDL_Color black[256] = {};
    SDL_SetColors(surface.get(), black, 0, 256);
    auto* pixels = static_cast<std::uint8_t*>(surface->pixels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixels[y * surface->pitch + x] = indices[y * width + x];
    }
    return surface;
}

struct Colour {
    std::uint8_t r, g, b;
};

SurfacePtr colourSurface(int width, int height, int bits, const std::vector<Colour>& colours) {
    SurfacePtr surface(SDL_CreateRGBSurface(0, width, height, bits, 0xFF0000, 0x00FF00, 0x0000FF, 0));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour& c = colours[y * width + x];
            SDL_Rect pixel{Sint16(x), Sint16(y), 1, 1};
            SDL_FillRect(surface.get(), &pixel, SDL_MapRGB(surface->format, c.r, c.g, c.b));
        }
    }
    return surface;
}

void expectDepths(const Bytes& file, std::int32_t width, std::int32_t height, const Bytes& depths) {
    const DepthResult result = decodeBitmapDepthMap(file);
    ASSERT_TRUE(result) << result.detail;
    const DepthMapPtr& map = result.map;
    EXPECT_EQ(map->area.w, width);
    EXPECT_EQ(map->area.h, height);
    EXPECT_EQ(pixelsOf(*map), depths);
}

TEST(BitmapFileTest, ReadsTheFirstByteOfEachPixelShiftedByThree) {
    expectDepths(kBitmap24, 3, 2, kBitmap24Depths);
    expectDepths(topDownBitmap(), 3, 2, kBitmap24Depths);
}

TEST(BitmapFileTest, ReadsPaletteIndicesAtEveryPaddedWidth) {
    // Widths 3 and 5 pad their rows; a packed reading would drift.
    const Bytes indices3 = {255, 7, 8, 0, 16, 248};
    const Bytes indices5 = {255, 7, 8, 16, 100, 0, 248, 255, 31, 32};
    expectDepths(bitmapOf(indexedSurface(3, 2, indices3).get()), 3, 2, {31, 0, 1, 0, 2, 31});
    expectDepths(bitmapOf(indexedSurface(5, 2, indices5).get()), 5, 2, {31, 0, 1, 2, 12, 0, 31, 31, 3, 4});
    expectDepths(bitmapOf(indexedSurface(4, 1, {9, 10, 11, 12}).get()), 4, 1, {1, 1, 1, 1});
}

// Warnings leave the depths alone; a grey ramp in index order, or a
// true-colour picture with relief, gives none.
TEST(BitmapFileTest, WarnsOfPalettesOutOfGreyOrderAndOfFlatPictures) {
    SDL_Color ramp[256];
    for (int i = 0; i < 256; ++i) ramp[i] = SDL_Color{Uint8(i), Uint8(i), Uint8(i), 0};
    SurfacePtr grey = indexedSurface(3, 1, {0, 128, 255});
    SDL_SetColors(grey.get(), ramp, 0, 256);
    SurfacePtr tinted = indexedSurface(3, 1, {0, 128, 255});
    ramp[128].r = 0;  // one used entry is not grey
    SDL_SetColors(tinted.get(), ramp, 0, 256);
    SurfacePtr reordered = indexedSurface(2, 1, {0, 8});
    ramp[8] = SDL_Color{255, 255, 255, 0};  // index 8 gives depth 1, its white 31
    SDL_SetColors(reordered.get(), ramp, 0, 256);
    const struct {
        const char* what;
        Bytes file;
        Bytes depths;
        const char* warning;  // how the one warning starts; null for none
    } cases[] = {
        {"grey ramp", bitmapOf(grey.get()), {0, 16, 31}, nullptr},
        {"grey ramp, one entry tinted", bitmapOf(tinted.get()), {0, 16, 31}, "its palette is not grey in index order"},
        {"grey, but not at its index", bitmapOf(reordered.get()), {0, 1}, "its palette is not grey in index order"},
        // Black is grey at index 7's level: the palette is in order, the
        // picture flat.
        {"black palette, one index", bitmapOf(indexedSurface(2, 2, {7, 7, 7, 7}).get()), {0, 0, 0, 0},
         "every pixel has depth 0, so the picture is flat"},
        {"true colour with relief", kBitmap24, kBitmap24Depths, nullptr},
        {"true colour, one depth", bitmapOf(colourSurface(2, 1, 24, {{9, 9, 80}, {0, 0, 87}}).get()), {10, 10},
         "every pixel has depth 10, so the picture is flat"},
        {"a single pixel", bitmapOf(colourSurface(1, 1, 24, {{0, 0, 80}}).get()), {10}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DepthResult result = decodeBitmapDepthMap(c.file);
        ASSERT_TRUE(result) << result.detail;
        EXPECT_EQ(pixelsOf(*result.map), c.depths);
        if (c.warning == nullptr) {
            EXPECT_EQ(result.warnings, std::vector<std::string>{});
        } else {
            ASSERT_EQ(result.warnings.size(), 1u);
            EXPECT_EQ(result.warnings[0].rfind(c.warning, 0), 0u) << result.warnings[0];
        }
    }
}

TEST(BitmapFileTest, ReadsTheBlueOfTrueColourBitmaps) {
    const std::vector<Colour> colours = {
        {255, 0, 0}, {0, 0, 255}, {0, 0, 80}, {255, 255, 255}, {0, 255, 0},
        {1, 2, 8},   {0, 0, 7},   {9, 9, 9},  {200, 100, 248}, {0, 0, 0},
    };
    const Bytes depths = {0, 31, 10, 31, 0, 1, 0, 1, 31, 0};
    for (const int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        expectDepths(bitmapOf(colourSurface(5, 2, bits, colours).get()), 5, 2, depths);
        const std::vector<Colour> narrow(colours.begin(), colours.begin() + 6);
        expectDepths(bitmapOf(colourSurface(3, 2, bits, narrow).get()), 3, 2,
                     Bytes(depths.begin(), depths.begin() + 6));
    }
}

TEST(BitmapFileTest, RefusesOversizedHeadersBeforeDecoding) {
    const std::pair<Bytes, DepthStatus> cases[] = {
        {withLe32(withLe32(kBitmap24, 18, 16385), 22, 16384), DepthStatus::BadSize},
        {withLe32(kBitmap24, 22, 268435457), DepthStatus::BadSize},
        {withLe32(withLe32(kBitmap24, 18, 16384), 22, std::uint32_t(-16385)), DepthStatus::BadSize},
        {withLe32(withLe32(kBitmap24, 18, 0x7FFFFFFF), 22, 0x7FFFFFFF), DepthStatus::BadSize},
        {withLe32(kBitmap24, 18, std::uint32_t(-3)), DepthStatus::BadSize},
        // The old 12-byte header keeps 16-bit sides at bytes 18..21: checked
        // even when the file ends right after them.
        {{0x42, 0x4D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x08},
         DepthStatus::BadSize},
        {{0x42, 0x4D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0, 0, 0, 0x03, 0x00, 0x02}, DepthStatus::BadHeader},
        // A legal size whose pixels are not in the file: refused before SDL
        // allocates a gigabyte for them, as is a strip wider than 16384.
        {withLe32(withLe32(kBitmap24, 18, 16384), 22, 16384), DepthStatus::BadData},
        {withLe32(withLe32(kBitmap24, 18, 20000), 22, 480), DepthStatus::BadData},
    };
    for (const auto& [bytes, status] : cases) {
        const DepthResult result = decodeBitmapDepthMap(bytes);
        EXPECT_EQ(result.status, status) << result.detail;
        EXPECT_FALSE(result.map);
    }
}

TEST(BitmapFileTest, RefusesWhatSdlCannotDecode) {
    EXPECT_EQ(decodeBitmapDepthMap(Bytes{}).status, DepthStatus::Undecodable);
    const std::string text = "3 2\n1 0\nAU9\n";
    EXPECT_EQ(decodeBitmapDepthMap(Bytes(text.begin(), text.end())).status, DepthStatus::Undecodable);
    for (std::size_t length = 0; length < kBitmap24.size(); ++length) {
        EXPECT_FALSE(decodeBitmapDepthMap(std::span(kBitmap24.data(), length))) << "prefix " << length;
    }
}

TEST(BitmapFileTest, SavesGreyDepthTimesEight) {
    const DepthMapPtr map = mapOf(3, 2, {31, 1, 0, 32, 2, 17});
    Bytes file;
    const DepthOutcome encoded = encodeDepthMapBitmap(*map, file);
    ASSERT_TRUE(encoded) << encoded.detail;
    const SurfacePtr surface(SDL_LoadBMP_RW(SDL_RWFromConstMem(file.data(), int(file.size())), 1));
    ASSERT_TRUE(surface) << SDL_GetError();
    ASSERT_EQ(surface->w, 3);
    ASSERT_EQ(surface->h, 2);
    // Depth 32 wraps to 0; every colour byte of a pixel holds the same grey.
    const Bytes greys = {248, 8, 0, 0, 16, 136};
    const int bytesPerPixel = surface->format->BytesPerPixel;
    ASSERT_GE(bytesPerPixel, 3);
    const auto* pixels = static_cast<const std::uint8_t*>(surface->pixels);
    for (int i = 0; i < 6; ++i) {
        const std::uint8_t* pixel = pixels + (i / 3) * surface->pitch + (i % 3) * bytesPerPixel;
        for (int b = 0; b < 3; ++b) EXPECT_EQ(pixel[b], greys[i]) << "pixel " << i << " byte " << b;
    }
}

TEST(BitmapFileTest, SavedMapsLoadBackAtOddWidths) {
    ScratchFolder folder;
    for (const auto& [width, height] : {std::pair{5, 3}, std::pair{4, 2}, std::pair{1, 7}, std::pair{33, 1}}) {
        Bytes depths(std::size_t(width * height));
        for (std::size_t i = 0; i < depths.size(); ++i) depths[i] = std::uint8_t((i * 7 + 3) % 32);
        const DepthMapPtr map = mapOf(width, height, depths);
        const std::string name = folder.file("map.bmp");
        ASSERT_TRUE(saveDepthMapBitmap(*map, name.c_str()));
        const DepthMapPtr back = loadBitmapDepthMap(name.c_str()).map;
        ASSERT_TRUE(back);
        EXPECT_EQ(back->area.w, width);
        EXPECT_EQ(back->area.h, height);
        EXPECT_EQ(pixelsOf(*back), depths);
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"map.bmp"});
}

TEST(BitmapFileTest, FailedSaveKeepsTheEarlierFile) {
    ScratchFolder folder;
    const std::string shot = folder.file("screenshot.bmp");
    writeBytes(shot, kBitmap24);
    const DepthMapPtr map = mapOf(40, 40, Bytes(1600, 9));
    {
        // Room for the old picture but not the new one.
        const FileSizeLimit limit(1000);
        EXPECT_EQ(saveDepthMapBitmap(*map, shot.c_str()).status, DepthStatus::CannotWrite);
    }
    EXPECT_EQ(readBytes(shot), kBitmap24);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"screenshot.bmp"});

    EXPECT_EQ(saveDepthMapBitmap(*map, folder.file("no/such/folder/shot.bmp").c_str()).status,
              DepthStatus::CannotWrite);
    EXPECT_EQ(saveDepthMapBitmap(*map, (shot + "/inside.bmp").c_str()).status, DepthStatus::CannotWrite);
    // SDL makes no surface wider than 16383 or taller than 65535 pixels:
    // the one side limit left.
    for (const auto& [width, height] : {std::pair{kWidestBitmapMap + 1, 1}, std::pair{0, kTallestBitmapMap + 1}}) {
        const DepthMapPtr large = createDepthMap(width, height);
        EXPECT_EQ(saveDepthMapBitmap(*large, shot.c_str()).status, DepthStatus::TooLargeToWrite) << width;
    }
    // An empty map would make a bitmap of headers alone, which reads back
    // as nothing.
    for (const auto& [width, height] : {std::pair{0, 5}, std::pair{5, 0}}) {
        const DepthMapPtr empty = createDepthMap(width, height);
        EXPECT_EQ(saveDepthMapBitmap(*empty, shot.c_str()).status, DepthStatus::BadSize) << width;
    }
    const DepthMapPtr widest = createDepthMap(kWidestBitmapMap, 1);
    EXPECT_TRUE(saveDepthMapBitmap(*widest, folder.file("widest.bmp").c_str()));
    EXPECT_EQ(readBytes(shot), kBitmap24);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"screenshot.bmp", "widest.bmp"}));
}

}  // namespace
