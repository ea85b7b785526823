#include "depth/compressed_file.hpp"

#include <gtest/gtest.h>

#include <random>

#include "depth_file_fixtures.hpp"

using namespace tolvane;

namespace {

struct EncodingCase {
    const char* name;
    std::int32_t width;
    std::int32_t height;
    Bytes pixels;
    Bytes schm;
    Bytes scmhm;
};

Bytes repeated(std::size_t count, std::uint8_t value) { return Bytes(count, value); }

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Maps whose values lie in 0..31, with both encodings written out by hand.
std::vector<EncodingCase> encodingCases() {
    return {
        {"rows 1 1 2 and 3 3 3", 3, 2, {1, 1, 2, 3, 3, 3},
         {0x03, 0, 0, 0, 0x02, 0, 0, 0, 0x03, 0, 0, 0, 0x21, 0x02, 0x43},
         {0x03, 0, 0, 0, 0x02, 0, 0, 0, 0x21, 0x02, 0x43, 0x00, 0x00}},
        {"forty pixels of 5", 40, 1, repeated(40, 5),
         joined({{0x28, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0, 0, 0}, repeated(5, 0xE5)}),
         {0x28, 0, 0, 0, 0x01, 0, 0, 0, 0xE5, 0xE5, 0x00, 0x00, 0x03}},
        {"exactly 32 equal", 32, 1, repeated(32, 7),
         joined({{0x20, 0, 0, 0, 0x01, 0, 0, 0, 0x04, 0, 0, 0}, repeated(4, 0xE7)}),
         {0x20, 0, 0, 0, 0x01, 0, 0, 0, 0xE7, 0x00, 0x00, 0x00, 0x03}},
        {"33 equal start a second run", 33, 1, repeated(33, 7),
         joined({{0x21, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0, 0, 0}, repeated(4, 0xE7), {0x07}}),
         {0x21, 0, 0, 0, 0x01, 0, 0, 0, 0xE7, 0x07, 0x00, 0x00, 0x03}},
        {"twenty equal", 20, 1, repeated(20, 1),
         {0x14, 0, 0, 0, 0x01, 0, 0, 0, 0x03, 0, 0, 0, 0xE1, 0xE1, 0x61},
         {0x14, 0, 0, 0, 0x01, 0, 0, 0, 0x61, 0x00, 0x00, 0x00, 0x02}},
        {"one run across both rows", 2, 2, {9, 9, 9, 9},
         {0x02, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0, 0, 0, 0x69},
         {0x02, 0, 0, 0, 0x02, 0, 0, 0, 0x69, 0x00, 0x00, 0x00, 0x00}},
        {"five runs fill a second group", 5, 1, {1, 2, 3, 4, 31},
         {0x05, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0x1F},
         {0x05, 0, 0, 0, 0x01, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0x00,
          0x1F, 0x00, 0x00, 0x00, 0x00}},
        // Runs of 9, 17, 25 and 32: every pair of extension bits is used.
        {"extension bits of all four runs", 83, 1,
         joined({repeated(9, 1), repeated(17, 2), repeated(25, 3), repeated(32, 4)}),
         joined({{0x53, 0, 0, 0, 0x01, 0, 0, 0, 0x0D, 0, 0, 0},
                 {0xE1, 0x01, 0xE2, 0xE2, 0x02, 0xE3, 0xE3, 0xE3, 0x03},
                 repeated(4, 0xE4)}),
         {0x53, 0, 0, 0, 0x01, 0, 0, 0, 0x01, 0x02, 0x03, 0xE4, 0xF9}},
        {"no width", 0, 5, {}, {0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0x05, 0, 0, 0}},
        {"no height", 7, 0, {}, {0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x07, 0, 0, 0, 0, 0, 0, 0}},
    };
}

TEST(CompressedFileTest, EncodesExactBytesAndReadsThemBack) {
    for (const EncodingCase& c : encodingCases()) {
        SCOPED_TRACE(c.name);
        const DepthMapPtr map = mapOf(c.width, c.height, c.pixels);
        ASSERT_TRUE(map);
        EXPECT_EQ(encodeSchm(*map), c.schm);
        EXPECT_EQ(encodeScmhm(*map), c.scmhm);

        for (const DepthResult& result : {decodeSchm(c.schm), decodeScmhm(c.scmhm)}) {
            ASSERT_TRUE(result) << result.detail;
            const DepthMapPtr& back = result.map;
            EXPECT_EQ(back->area.w, c.width);
            EXPECT_EQ(back->area.h, c.height);
            EXPECT_EQ(pixelsOf(*back), c.pixels);
        }
    }
}

TEST(CompressedFileTest, ClampsValuesAboveThirtyOneAndJoinsTheirRuns) {
    // 31, 40 and 255 all become 31 and so form one run of three.
    const DepthMapPtr map = mapOf(4, 1, {31, 40, 255, 3});
    EXPECT_EQ(encodeSchm(*map), (Bytes{4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x5F, 0x03}));
    EXPECT_EQ(encodeScmhm(*map), (Bytes{4, 0, 0, 0, 1, 0, 0, 0, 0x5F, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(pixelsOf(*decodeSchm(encodeSchm(*map)).map), (Bytes{31, 31, 31, 3}));
    EXPECT_EQ(pixelsOf(*decodeScmhm(encodeScmhm(*map)).map), (Bytes{31, 31, 31, 3}));
    // The map itself is left as it was.
    EXPECT_EQ(pixelsOf(*map), (Bytes{31, 40, 255, 3}));
}

TEST(CompressedFileTest, RandomMapsSurviveBothFormats) {
    std::mt19937 random(20240607);
    const std::pair<std::int32_t, std::int32_t> sizes[] = {{1, 1}, {37, 23}, {101, 3}, {7, 131}, {640, 1}, {333, 77}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        // Runs of random lengths up to 70, so both length limits are hit.
        Bytes pixels;
        while (pixels.size() < std::size_t(width) * std::size_t(height)) {
            const std::uint8_t value = std::uint8_t(random() % 32);
            pixels.insert(pixels.end(), 1 + random() % 70, value);
        }
        pixels.resize(std::size_t(width) * std::size_t(height));
        const DepthMapPtr map = mapOf(width, height, pixels);
        const DepthMapPtr fromSchm = decodeSchm(encodeSchm(*map)).map;
        const DepthMapPtr fromScmhm = decodeScmhm(encodeScmhm(*map)).map;
        ASSERT_TRUE(fromSchm);
        ASSERT_TRUE(fromScmhm);
        EXPECT_EQ(pixelsOf(*fromSchm), pixels);
        EXPECT_EQ(pixelsOf(*fromScmhm), pixels);
    }
}

TEST(CompressedFileTest, EveryTruncatedPrefixIsRefused) {
    std::mt19937 random(7);
    Bytes pixels(37 * 23);
    for (std::uint8_t& value : pixels) value = std::uint8_t(random() % 3 * 10);
    const DepthMapPtr map = mapOf(37, 23, pixels);
    const Bytes schm = encodeSchm(*map);
    const Bytes scmhm = encodeScmhm(*map);
    for (std::size_t length = 0; length < schm.size(); ++length) {
        EXPECT_FALSE(decodeSchm(std::span(schm.data(), length))) << "schm prefix " << length;
    }
    for (std::size_t length = 0; length < scmhm.size(); ++length) {
        EXPECT_FALSE(decodeScmhm(std::span(scmhm.data(), length))) << "scmhm prefix " << length;
    }
    const Bytes emptySchm{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (std::size_t length = 0; length < emptySchm.size(); ++length) {
        EXPECT_FALSE(decodeSchm(std::span(emptySchm.data(), length))) << "empty schm prefix " << length;
        if (length < 8) {
            EXPECT_FALSE(decodeScmhm(std::span(emptySchm.data(), length)));
        }
    }
}

TEST(CompressedFileTest, CorruptedFilesGiveWholeMapsOrNothing) {
    std::mt19937 random(99);
    Bytes pixels(23 * 9);
    for (std::uint8_t& value : pixels) value = std::uint8_t(random() % 4 == 0 ? random() % 32 : 5);
    const DepthMapPtr map = mapOf(23, 9, pixels);
    const Bytes files[] = {encodeSchm(*map), encodeScmhm(*map)};
    for (int round = 0; round < 4000; ++round) {
        const bool schm = round % 2 == 0;
        Bytes file = files[round % 2];
        for (int flips = 1 + random() % 3; flips > 0; --flips) {
            file[random() % file.size()] ^= std::uint8_t(1u << (random() % 8));
        }
        const DepthMapPtr back = (schm ? decodeSchm(file) : decodeScmhm(file)).map;
        if (!back) continue;
        // Whatever the header now says, the map has exactly that size.
        const std::int32_t width = std::int32_t(file[0] | file[1] << 8 | file[2] << 16 | file[3] << 24);
        const std::int32_t height = std::int32_t(file[4] | file[5] << 8 | file[6] << 16 | file[7] << 24);
        EXPECT_EQ(back->area.w, width);
        EXPECT_EQ(back->area.h, height);
        for (const std::uint8_t value : pixelsOf(*back)) EXPECT_LE(value, 31);
    }
}

struct MalformedCase {
    const char* name;
    Bytes bytes;
    DepthStatus status;
};

TEST(CompressedFileTest, RefusesMalformedSchm) {
    const MalformedCase cases[] = {
        {"short header", {3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, DepthStatus::BadHeader},
        {"negative width", {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 1, 0, 0, 0, 0}, DepthStatus::BadSize},
        {"negative height", {1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0}, DepthStatus::BadSize},
        {"both negative", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0}, DepthStatus::BadSize},
        {"above 2^28 pixels", {0x01, 0x40, 0, 0, 0, 0x40, 0, 0, 1, 0, 0, 0, 0}, DepthStatus::BadSize},
        {"huge sides", {0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0}, DepthStatus::BadSize},
        {"count beyond bytes", {1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0}, DepthStatus::BadData},
        {"count far beyond bytes", {1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}, DepthStatus::BadData},
        {"more pixels than runs can hold", {100, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0xE0}, DepthStatus::BadData},
        {"largest map from one run", {0, 0x40, 0, 0, 0, 0x40, 0, 0, 1, 0, 0, 0, 0xE0}, DepthStatus::BadData},
        {"run past the map", {3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0xE0}, DepthStatus::BadData},
        {"runs past after a fit", {3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x21, 0x21}, DepthStatus::BadData},
        {"runs fill too little", {3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x20}, DepthStatus::BadData},
        {"pixels but no runs", {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, DepthStatus::BadData},
    };
    for (const MalformedCase& c : cases) {
        const DepthResult result = decodeSchm(c.bytes);
        EXPECT_EQ(result.status, c.status) << c.name << ": " << result.detail;
        EXPECT_FALSE(result.map) << c.name;
    }
}

TEST(CompressedFileTest, RefusesMalformedScmhm) {
    const MalformedCase cases[] = {
        {"short header", {3, 0, 0, 0, 1, 0, 0}, DepthStatus::BadHeader},
        {"negative width", {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0, 0}, DepthStatus::BadSize},
        {"above 2^28 pixels", {0, 0x40, 0, 0, 0x01, 0x40, 0, 0, 0xFF, 0, 0, 0, 0xFF}, DepthStatus::BadSize},
        {"no groups for pixels", {1, 0, 0, 0, 1, 0, 0, 0}, DepthStatus::BadData},
        {"group without extension byte", {1, 0, 0, 0, 1, 0, 0, 0, 0x00, 0, 0, 0}, DepthStatus::BadData},
        {"more pixels than a group holds", {129, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, DepthStatus::BadData},
        {"largest map from one group", {0, 0x40, 0, 0, 0, 0x40, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, DepthStatus::BadData},
        {"runs stop short", {6, 0, 0, 0, 1, 0, 0, 0, 0x20, 0, 0, 0, 0}, DepthStatus::BadData},
        {"run past the map", {3, 0, 0, 0, 1, 0, 0, 0, 0xE0, 0, 0, 0, 0}, DepthStatus::BadData},
        {"extension bits reach past", {8, 0, 0, 0, 1, 0, 0, 0, 0x01, 0, 0, 0, 0x01}, DepthStatus::BadData},
        {"second group missing", {5, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3, 4, 0, 5, 0, 0, 0}, DepthStatus::BadData},
    };
    for (const MalformedCase& c : cases) {
        const DepthResult result = decodeScmhm(c.bytes);
        EXPECT_EQ(result.status, c.status) << c.name << ": " << result.detail;
        EXPECT_FALSE(result.map) << c.name;
    }
}

TEST(CompressedFileTest, ScmhmIgnoresThePaddingOfItsLastGroup) {
    // The reader stops once the map is full, whatever the padding holds.
    const Bytes file{2, 0, 0, 0, 1, 0, 0, 0, 0x05, 0x06, 0xFF, 0xFF, 0xF0};
    const DepthMapPtr map = decodeScmhm(file).map;
    ASSERT_TRUE(map);
    EXPECT_EQ(pixelsOf(*map), (Bytes{5, 6}));
}

TEST(CompressedFileTest, RunDecodersRefuseBlocksTheyCannotUse) {
    const DepthMapPtr map = createDepthMap(2, 1);
    EXPECT_FALSE(decodeSchmRuns(*map, Bytes{1, 0, 0}));
    EXPECT_FALSE(decodeSchmRuns(*map, Bytes{}));
    EXPECT_TRUE(decodeSchmRuns(*map, Bytes{1, 0, 0, 0, 0x27}));
    EXPECT_EQ(pixelsOf(*map), (Bytes{7, 7}));
    EXPECT_FALSE(decodeScmhmGroups(*map, Bytes{0x27, 0, 0, 0}));
    EXPECT_TRUE(decodeScmhmGroups(*map, Bytes{0x29, 0, 0, 0, 0}));
    EXPECT_EQ(pixelsOf(*map), (Bytes{9, 9}));
}

// The loaders read only what the header says the map can use, so a small
// map padded out to a large file costs a small read; whatever they read,
// they agree with decoding the whole file.
TEST(CompressedFileTest, LoadingAnyFileAgreesWithDecodingItWhole) {
    ScratchFolder folder;
    std::mt19937 random(3);
    Bytes noise(17 * 5);
    for (std::uint8_t& value : noise) value = std::uint8_t(random() % 2 * 9);
    const DepthMapPtr map = mapOf(17, 5, noise);
    const Bytes starts[] = {
        encodeSchm(*map),
        encodeScmhm(*map),
        {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 5},
        {1, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 5},                  // runs counted past the map
        {1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 5},    // a count no padding fills
        {3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x20},
        {100, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0xE0},
        {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 1, 0, 0, 0},
        {6, 0, 0, 0, 1, 0, 0, 0, 0x20, 0, 0, 0, 0},
        {3, 0, 0, 0, 1},
        {},
    };
    for (const Bytes& start : starts) {
        for (const std::size_t padding : {0u, 1u, 3u, 100000u}) {
            Bytes whole = start;
            whole.resize(start.size() + padding, std::uint8_t(0x21));
            for (const bool schm : {true, false}) {
                const std::string name = folder.file(schm ? "p.schm" : "p.scmhm");
                writeBytes(name, whole);
                const DepthResult loaded = schm ? loadSchm(name.c_str()) : loadScmhm(name.c_str());
                const DepthResult decoded = schm ? decodeSchm(whole) : decodeScmhm(whole);
                const std::string what = std::string(schm ? "schm " : "scmhm ") + std::to_string(start.size()) +
                                         " + " + std::to_string(padding);
                ASSERT_EQ(loaded.status, decoded.status) << what << ": " << decoded.detail;
                EXPECT_EQ(loaded.detail, decoded.detail) << what;
                if (decoded.map) {
                    EXPECT_EQ(pixelsOf(*loaded.map), pixelsOf(*decoded.map)) << what;
                }
            }
        }
    }
}

TEST(CompressedFileTest, FilesRoundTripAndReportWhatFailed) {
    ScratchFolder folder;
    const DepthMapPtr map = mapOf(3, 2, {1, 1, 2, 3, 3, 3});
    const std::string schm = folder.file("hill.schm");
    const std::string scmhm = folder.file("hill.scmhm");
    ASSERT_TRUE(saveSchm(*map, schm.c_str()));
    ASSERT_TRUE(saveScmhm(*map, scmhm.c_str()));
    EXPECT_EQ(readBytes(schm), (Bytes{3, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0x21, 0x02, 0x43}));
    EXPECT_EQ(readBytes(scmhm), (Bytes{3, 0, 0, 0, 2, 0, 0, 0, 0x21, 0x02, 0x43, 0, 0}));
    EXPECT_EQ(pixelsOf(*loadSchm(schm.c_str()).map), (Bytes{1, 1, 2, 3, 3, 3}));
    EXPECT_EQ(pixelsOf(*loadScmhm(scmhm.c_str()).map), (Bytes{1, 1, 2, 3, 3, 3}));

    EXPECT_EQ(loadSchm(folder.file("missing.schm").c_str()).status, DepthStatus::CannotOpen);
    EXPECT_EQ(loadScmhm(folder.path().c_str()).status, DepthStatus::NotAFile);
    EXPECT_EQ(saveSchm(*map, folder.file("no/such/folder/hill.schm").c_str()).status, DepthStatus::CannotWrite);
    EXPECT_EQ(saveScmhm(*map, (schm + "/inside.scmhm").c_str()).status, DepthStatus::CannotWrite);

    // Files are written a chunk at a time; one with more runs than a chunk
    // holds has the same bytes as the whole-map encoders give.
    std::mt19937 random(5);
    Bytes noise(400 * 300);
    for (std::uint8_t& value : noise) value = std::uint8_t(random() % 32);
    const DepthMapPtr large = mapOf(400, 300, noise);
    ASSERT_TRUE(saveSchm(*large, schm.c_str()));
    ASSERT_TRUE(saveScmhm(*large, scmhm.c_str()));
    EXPECT_EQ(readBytes(schm), encodeSchm(*large));
    EXPECT_EQ(readBytes(scmhm), encodeScmhm(*large));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"hill.schm", "hill.scmhm"}));
}

}  // namespace
