#include "depth/text_file.hpp"

#include <gtest/gtest.h>

#include "depth_file_fixtures.hpp"

using namespace tolvane;

namespace {

DepthResult decode(const std::string& text) { return decodeTextDepthMap(Bytes(text.begin(), text.end())); }

TEST(TextFileTest, CharacterTable) {
    const std::pair<char, int> cases[] = {
        {' ', 0},   {'1', 1},   {'9', 9},    {'0', 10},   {'A', 11},  {'U', 31},
        {'V', 32},  {'a', 43},  {'!', 235},  {'\0', 202}, {'\t', 211}, {'\xFF', 201},
    };
    for (const auto& [c, depth] : cases) {
        EXPECT_EQ(depthFromChar(c), depth) << "code " << int(static_cast<unsigned char>(c));
    }
}

struct GridCase {
    const char* name;
    std::string text;
    std::int32_t width;
    std::int32_t height;
    Bytes pixels;
};

TEST(TextFileTest, ReadsGridsLineByLine) {
    const GridCase cases[] = {
        {"plain", "3 2\n1 0\nAU9\n", 3, 2, {1, 0, 10, 11, 31, 9}},
        {"CR LF line ends", "3 2\r\n1 0\r\nAU9\r\n", 3, 2, {1, 0, 10, 11, 31, 9}},
        {"no final line end", "3 2\n1 0\nAU9", 3, 2, {1, 0, 10, 11, 31, 9}},
        {"header split over lines", "3\n2 rest\n1 0\nAU9\n", 3, 2, {1, 0, 10, 11, 31, 9}},
        {"white space before the header", "\n\t 3\r\n\v 2\n1 0\nAU9\n", 3, 2, {1, 0, 10, 11, 31, 9}},
        {"signs", "+3 +2\n1 0\nAU9\n", 3, 2, {1, 0, 10, 11, 31, 9}},
        {"characters beyond the table", "3 1\nVa!\n", 3, 1, {32, 43, 235}},
        {"leading blanks are pixels", "3 1\n  1\n", 3, 1, {0, 0, 1}},
        {"a lone CR is a character", "3 1\n1\r2\n", 3, 1, {1, 215, 2}},
        {"NUL is a character", std::string("2 1\n\0" "1\n", 7), 2, 1, {202, 1}},
        // The header's rest may hold width + 3 characters and still be
        // skipped; one more leaves its line end for the first row.
        {"header rest of width + 3", "3 2abcdef\n1 0\nAU9\n", 3, 2, {1, 0, 10, 11, 31, 9}},
        {"header rest of width + 4", "3 2abcdefg\n1 0\nAU9\n", 3, 2, {0, 0, 0, 1, 0, 10}},
        {"header rest of width + 5", "3 2abcdefgh\n1 0\nAU9\n", 3, 2, {50, 0, 0, 1, 0, 10}},
        {"header rest of width + 4, CR LF", "3 2abcdefg\r\n1 0\r\nAU9\r\n", 3, 2, {0, 0, 0, 1, 0, 10}},
        {"row of width + 3", "3 2\n123456\nAU9\n", 3, 2, {1, 2, 3, 11, 31, 9}},
        {"row of width + 4 leaves its line end", "3 2\n1234567\nAU9\n", 3, 2, {1, 2, 3, 0, 0, 0}},
        {"row of width + 4, CR LF", "3 2\r\n1234567\r\nAU9\r\n", 3, 2, {1, 2, 3, 0, 0, 0}},
        {"longer row spills into the next", "3 3\n12345678\nAU9\n", 3, 3, {1, 2, 3, 8, 0, 0, 11, 31, 9}},
        {"short lines end in depth 0", "4 3\n12\n\nA\n", 4, 3, {1, 2, 0, 0, 0, 0, 0, 0, 11, 0, 0, 0}},
        {"missing rows are depth 0", "2 3\n12\n", 2, 3, {1, 2, 0, 0, 0, 0}},
        {"header only", "2 2", 2, 2, {0, 0, 0, 0}},
        {"no width, lines still read", "0 2\nabc\n\n", 0, 2, {}},
        {"no height", "3 0\n123\n", 3, 0, {}},
        {"minus zero", "-0 1\n", 0, 1, {}},
        {"longest side", "268435456 0\n", 268435456, 0, {}},
        {"a strip wider than 16384", "20000 1\n", 20000, 1, Bytes(20000, 0)},
    };
    for (const GridCase& c : cases) {
        SCOPED_TRACE(c.name);
        const DepthResult result = decode(c.text);
        ASSERT_TRUE(result) << result.detail;
        const DepthMapPtr& map = result.map;
        EXPECT_EQ(map->area.w, c.width);
        EXPECT_EQ(map->area.h, c.height);
        EXPECT_EQ(pixelsOf(*map), c.pixels);
    }
}

TEST(TextFileTest, RefusesHeadersWithoutTwoSoundSizes) {
    const std::pair<const char*, DepthStatus> cases[] = {
        {"", DepthStatus::BadHeader},
        {"   \n", DepthStatus::BadHeader},
        {"abc", DepthStatus::BadHeader},
        {"3", DepthStatus::BadHeader},
        {"3 x\n", DepthStatus::BadHeader},
        {"- 3 2\n", DepthStatus::BadHeader},
        {"3 +\n", DepthStatus::BadHeader},
        {"-1 2\n", DepthStatus::BadSize},
        {"3 -2\n", DepthStatus::BadSize},
        {"16385 16384\n", DepthStatus::BadSize},  // one pixel row past 2^28
        {"268435457 1\n", DepthStatus::BadSize},
        {"1 99999999999999999999999\n", DepthStatus::BadSize},
        {"-99999999999999999999999 1\n", DepthStatus::BadSize},
    };
    for (const auto& [text, status] : cases) {
        const DepthResult result = decode(text);
        EXPECT_EQ(result.status, status) << '"' << text << "\": " << result.detail;
        EXPECT_FALSE(result.map) << '"' << text << '"';
    }
}

TEST(TextFileTest, LoadsFilesAndReportsMissingOnes) {
    ScratchFolder folder;
    writeText(folder.file("hill.txt"), "3 2\r\n1 0\r\nAU9\r\n");
    const DepthResult loaded = loadTextDepthMap(folder.file("hill.txt").c_str());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(pixelsOf(*loaded.map), (Bytes{1, 0, 10, 11, 31, 9}));
    EXPECT_EQ(loadTextDepthMap(folder.file("none.txt").c_str()).status, DepthStatus::CannotOpen);
}

// The loader reads only what the header lets the grid use, a header after
// any amount of blank space included; whatever it reads, it agrees with
// decoding the whole file.
TEST(TextFileTest, LoadingAnyFileAgreesWithDecodingItWhole) {
    ScratchFolder folder;
    const std::string blank70k(70000, ' ');
    const std::string texts[] = {
        "3 2\n123\n456\n",
        "3 2\r\n1\r\n456789\r\nUUU\n",
        std::string(5000, ' ') + "2 2\n12\n3!\n",
        blank70k + "\n\n2 1\n99",
        "2" + blank70k + "1\nAB\n",
        "2 2\n1234567890\n" + std::string(200, '5'),
        "3 1\r",
        "3 x\n123\n",
        blank70k,
        "",
    };
    for (const std::string& text : texts) {
        for (const std::size_t padding : {0u, 1u, 100000u}) {
            std::string whole = text + std::string(padding, padding % 2 == 0 ? '7' : '\n');
            writeText(folder.file("t.txt"), whole);
            const DepthResult loaded = loadTextDepthMap(folder.file("t.txt").c_str());
            const DepthResult decoded = decode(whole);
            const std::string what = text.substr(0, 40) + " + " + std::to_string(padding);
            ASSERT_EQ(loaded.status, decoded.status) << what;
            EXPECT_EQ(loaded.detail, decoded.detail) << what;
            EXPECT_EQ(loaded.warnings, decoded.warnings) << what;
            if (decoded.map) {
                EXPECT_EQ(pixelsOf(*loaded.map), pixelsOf(*decoded.map)) << what;
            }
        }
    }
}

}  // namespace
