// Pictures and the headless renderer: the PNG and BMP bytes, the renderer's
// arguments, and real renders compared with the depth map and with a
// reference drawn from the C library's rand().

#include "app/render.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bench/stereo_oracle.hpp"
#include "tests/stereo/echo_free_reference.hpp"
#include "tests/app/test_picture.hpp"

using namespace tolvane;

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t bigEndian(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

std::uint32_t littleEndian(const std::vector<std::uint8_t>& b, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | b[at + static_cast<std::size_t>(i)];
    return value;
}

// A 5 x 3 picture using indexes at both ends of the palette, and a palette
// whose channels all differ, so a swap or a flip shows.
DepthMapPtr oddPicture() {
    DepthMapPtr map = createDepthMap(5, 3);
    const std::uint8_t bytes[15] = {0, 1, 2, 3, 255, 10, 20, 30, 40, 50, 254, 128, 7, 0, 99};
    std::copy(std::begin(bytes), std::end(bytes), map->pixels);
    return map;
}

RgbPalette oddPalette() {
    RgbPalette palette;
    for (int i = 0; i < 256; ++i) {
        palette[static_cast<std::size_t>(i)] = RgbColor{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                                        static_cast<std::uint8_t>(i * 7)};
    }
    return palette;
}

auto through(const RgbPalette& palette) {
    return [&palette](std::uint8_t index) {
        const RgbColor& c = palette[index];
        return std::array<int, 3>{c.red, c.green, c.blue};
    };
}

TEST(Pictures, PngIsIndexedWithTheWholePaletteAndReadsBackExactly) {
    DepthMapPtr picture = oddPicture();
    const RgbPalette palette = oddPalette();
    for (const PngSettings settings : {PngSettings{}, PngSettings{9, true}, PngSettings{0, false}}) {
        std::vector<std::uint8_t> bytes;
        const DepthOutcome encoded = encodeIndexedPng(*picture, palette, bytes, settings);
        ASSERT_TRUE(encoded) << encoded.detail;
        ASSERT_GT(bytes.size(), 8u + 25u + 780u);
        const std::vector<std::uint8_t> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        EXPECT_TRUE(std::equal(signature.begin(), signature.end(), bytes.begin()));
        EXPECT_EQ(bigEndian(bytes, 8), 13u);
        EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
        EXPECT_EQ(bigEndian(bytes, 16), 5u);
        EXPECT_EQ(bigEndian(bytes, 20), 3u);
        // Bit depth 8, colour type 3 (indexed), deflate, adaptive filtering, not interlaced.
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 24, bytes.begin() + 29),
                  (std::vector<std::uint8_t>{8, 3, 0, 0, 0}));
        EXPECT_EQ(bigEndian(bytes, 33), 768u);
        EXPECT_EQ(std::string(bytes.begin() + 37, bytes.begin() + 41), "PLTE");
        for (std::size_t i = 0; i < 256; ++i) {
            ASSERT_EQ(bytes[41 + 3 * i], palette[i].red) << i;
            ASSERT_EQ(bytes[42 + 3 * i], palette[i].green) << i;
            ASSERT_EQ(bytes[43 + 3 * i], palette[i].blue) << i;
        }
        EXPECT_EQ(std::string(bytes.end() - 8, bytes.end() - 4), "IEND");
        const RgbPicture back = readPng(bytes);
        ASSERT_TRUE(back.read);
        EXPECT_TRUE(back.indexed256);
        EXPECT_EQ(back.width, 5);
        EXPECT_EQ(back.height, 3);
        EXPECT_EQ(back.rgb, rgbOf(*picture, through(palette))) << "level " << settings.level;
    }
    DepthMap empty;
    std::vector<std::uint8_t> bytes = {1, 2, 3};
    EXPECT_EQ(encodeIndexedPng(empty, palette, bytes).status, DepthStatus::BadSize);
    EXPECT_TRUE(bytes.empty());
}

TEST(Pictures, BitmapIsBottomUpIndexedWithPaddedRows) {
    DepthMapPtr picture = oddPicture();
    const RgbPalette palette = oddPalette();
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(encodeIndexedBitmap(*picture, palette, bytes));
    const std::size_t pixelsAt = 14 + 40 + 1024;
    ASSERT_EQ(bytes.size(), pixelsAt + 8 * 3);
    struct Field {
        std::size_t at;
        int size;
        std::uint32_t value;
    };
    const Field fields[] = {
        {0, 2, 0x4D42}, {2, 4, static_cast<std::uint32_t>(bytes.size())}, {10, 4, pixelsAt}, {14, 4, 40}, {18, 4, 5},
        {22, 4, 3},     {26, 2, 1}, {28, 2, 8}, {30, 4, 0}, {34, 4, 24}, {46, 4, 256},
    };
    for (const Field& f : fields) EXPECT_EQ(littleEndian(bytes, f.at, f.size), f.value) << "offset " << f.at;
    // Palette entries blue, green, red, 0.
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 54 + 4 * 3, bytes.begin() + 54 + 4 * 4),
              (std::vector<std::uint8_t>{21, 252, 3, 0}));
    // The bottom row first, each padded to 8 bytes with zeros.
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + pixelsAt, bytes.end()),
              (std::vector<std::uint8_t>{254, 128, 7, 0, 99, 0, 0, 0, 10, 20, 30, 40, 50, 0, 0, 0, 0, 1, 2, 3, 255, 0, 0, 0}));
    const RgbPicture back = readBmp(bytes);
    ASSERT_TRUE(back.read);
    EXPECT_EQ(back.rgb, rgbOf(*picture, through(palette)));
    DepthMap empty;
    EXPECT_EQ(encodeIndexedBitmap(empty, palette, bytes).status, DepthStatus::BadSize);
}

TEST(RenderArguments, OptionsAndTheirLimits) {
    struct Case {
        std::vector<const char*> args;
        const char* error;  // "" when accepted
    };
    const Case cases[] = {
        {{"out.png"}, ""},
        {{"--world", "w/world.xml", "--view", "depth", "out.bmp", "--camera", "-20", "30", "--time", "2.5",
          "--frames", "12", "--fps", "24", "--seed", "4294967295", "--cross-eyed", "--pattern-width", "176",
          "--grey-dots", "--echo-free"},
         ""},
        {{}, "--render needs an output file ending in .png or .bmp"},
        {{"--view", "depth"}, "--render needs an output file ending in .png or .bmp"},
        {{"out.gif"}, "--render needs an output file ending in .png or .bmp, not \"out.gif\""},
        {{"out.PNG"}, ""},  // extensions in any case
        {{"out.gif.Bmp"}, ""},
        {{".PNG"}, "--render needs an output file ending in .png or .bmp, not \".PNG\""},
        {{".png"}, "--render needs an output file ending in .png or .bmp, not \".png\""},
        {{"a.png", "b.png"}, "two output files given: a.png and b.png"},
        {{"out.png", "--bogus"}, "unknown renderer option --bogus"},
        {{"out.png", "--scale", "2"}, "unknown renderer option --scale"},
        {{"out.png", "--view", "stereogram"}, "--view needs stereo or depth, not \"stereogram\""},
        {{"out.png", "--view"}, "--view needs a value"},
        {{"out.png", "--world", ""}, "--world needs a file name, not \"\""},
        {{"out.png", "--camera", "5"}, "--camera needs two values"},
        {{"out.png", "--camera", "5", "1e3"}, "--camera needs two whole numbers from -1000000000 to 1000000000, not \"1e3\""},
        {{"out.png", "--camera", "+5", "0"}, "--camera needs two whole numbers from -1000000000 to 1000000000, not \"+5\""},
        {{"out.png", "--camera", "1000000001", "0"},
         "--camera needs two whole numbers from -1000000000 to 1000000000, not \"1000000001\""},
        {{"out.png", "--time", "-1"}, "--time needs seconds from 0 to 1000000 as a plain decimal, not \"-1\""},
        {{"out.png", "--time", "1e2"}, "--time needs seconds from 0 to 1000000 as a plain decimal, not \"1e2\""},
        {{"out.png", "--time", "inf"}, "--time needs seconds from 0 to 1000000 as a plain decimal, not \"inf\""},
        {{"out.png", "--time", "1000000.5"},
         "--time needs seconds from 0 to 1000000 as a plain decimal, not \"1000000.5\""},
        {{"out.png", "--frames", "0"}, "--frames needs a whole number from 1 to 100000, not \"0\""},
        {{"out.png", "--frames", "100001"}, "--frames needs a whole number from 1 to 100000, not \"100001\""},
        {{"out.png", "--fps", "1001"}, "--fps needs a whole number from 1 to 1000, not \"1001\""},
        {{"out.png", "--fps", "2.5"}, "--fps needs a whole number from 1 to 1000, not \"2.5\""},
        {{"out.png", "--pattern-width", "63"}, "--pattern-width needs a whole number from 64 to 192, not \"63\""},
        {{"out.png", "--pattern-width", "193"}, "--pattern-width needs a whole number from 64 to 192, not \"193\""},
        {{"out.png", "--seed", "-1"}, "--seed needs a whole number from 0 to 4294967295, not \"-1\""},
        {{"out.png", "--seed", "4294967296"}, "--seed needs a whole number from 0 to 4294967295, not \"4294967296\""},
        {{"out.png", "--seed"}, "--seed needs a value"},
    };
    for (const Case& c : cases) {
        RenderOptions options;
        std::string error;
        const bool accepted = parseRenderArguments(static_cast<int>(c.args.size()), c.args.data(), options, error);
        EXPECT_EQ(accepted, c.error[0] == '\0') << c.error << " / " << error;
        if (!accepted) {
            EXPECT_EQ(error, c.error);
        }
    }

    RenderOptions defaults;
    std::string error;
    const char* bare[] = {"out.png"};
    ASSERT_TRUE(parseRenderArguments(1, bare, defaults, error));
    EXPECT_EQ(defaults.worldFile, "world.xml");
    EXPECT_FALSE(defaults.depthView);
    EXPECT_EQ(defaults.frames, 1);
    EXPECT_EQ(defaults.fps, 30);
    EXPECT_EQ(defaults.startTime, 0.0);
    EXPECT_FALSE(defaults.seeded);
    EXPECT_EQ(defaults.patternWidth, 128);
    for (const auto& [name, format] : {std::pair{"A.PNG", PictureFormat::Png}, std::pair{"a.bMp", PictureFormat::Bmp}}) {
        RenderOptions named;
        ASSERT_TRUE(parseRenderArguments(1, &name, named, error)) << name;
        EXPECT_EQ(named.format, format) << name;
    }
    EXPECT_EQ(defaults.format, PictureFormat::Png);

    RenderOptions all;
    ASSERT_TRUE(parseRenderArguments(static_cast<int>(cases[1].args.size()), cases[1].args.data(), all, error));
    EXPECT_EQ(all.output, "out.bmp");
    EXPECT_EQ(all.format, PictureFormat::Bmp);
    EXPECT_EQ(all.worldFile, "w/world.xml");
    EXPECT_TRUE(all.depthView);
    EXPECT_EQ(all.cameraX, -20);
    EXPECT_EQ(all.cameraY, 30);
    EXPECT_EQ(all.startTime, 2.5);
    EXPECT_EQ(all.frames, 12);
    EXPECT_EQ(all.fps, 24);
    EXPECT_TRUE(all.seeded);
    EXPECT_EQ(all.seed, 4294967295u);
    EXPECT_TRUE(all.crossEyed);
    EXPECT_EQ(all.patternWidth, 176);
    EXPECT_TRUE(all.greyDots);
    EXPECT_TRUE(all.echoFree);
}

TEST(RenderArguments, FileNamesOfASequence) {
    struct Case {
        const char* output;
        int index, frames;
        const char* name;
    };
    const Case cases[] = {
        {"out.png", 0, 1, "out.png"},          {"out.png", 0, 2, "out-0000.png"},
        {"out.png", 1, 2, "out-0001.png"},     {"dir.v2/out.bmp", 12, 13, "dir.v2/out-0012.bmp"},
        {"a.png", 12345, 20000, "a-12345.png"},
    };
    for (const Case& c : cases) EXPECT_EQ(renderFileName(c.output, c.index, c.frames), c.name) << c.name;
}

// The world the renders below draw: one scene image of 100 x 60 whose
// depths (4 to 31) do not depend on the slope, at x 300 on the top row.
constexpr int kSceneX = 300;
constexpr int kSceneW = 100;
constexpr int kSceneH = 60;

int sceneDepth(int x, int y) { return 4 + (x / 7 + y / 5) % 28; }

// The depth map that world shows with the camera dragged by (dx, dy), dy a
// multiple of 15: the picture moves and comes dy / 15 levels nearer.
DepthMapPtr expectedDepths(int dx, int dy) {
    DepthMapPtr map = createDepthMap(640, 480);
    for (int y = 0; y < kSceneH; ++y) {
        for (int x = 0; x < kSceneW; ++x) {
            *pixelAddress(*map, kSceneX + dx + x, dy + y) =
                static_cast<std::uint8_t>(std::min(31, sceneDepth(x, y) + dy / 15));
        }
    }
    return map;
}

const char kDigits[] = " 1234567890ABCDEFGHIJKLMNOPQRSTU";

struct RenderRun {
    int status = -1;
    std::string err;
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane_render_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directory(dir_ / "w");
        std::ofstream scene(dir_ / "w" / "hill.txt");
        scene << kSceneW << ' ' << kSceneH << '\n';
        for (int y = 0; y < kSceneH; ++y) {
            for (int x = 0; x < kSceneW; ++x) scene << kDigits[sceneDepth(x, y)];
            scene << '\n';
        }
        std::ofstream(dir_ / "w" / "world.xml")
            << "<World>\n<image type=\"scene\" name=\"hill\" file=\"hill.txt\" />\n"
               "<element type=\"scene\" imagename=\"hill\" x=\"" << kSceneX << "\" y=\"0\" />\n</World>\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The real program in dir_, without any display.
    RenderRun render(const std::string& arguments) {
        const std::string command = "cd '" + dir_.string() + "' && env -u DISPLAY SDL_VIDEODRIVER=nonexistent '" +
                                    TOLVANE_BINARY + "' --render " + arguments + " </dev/null >out.txt 2>err.txt";
        const int raw = std::system(command.c_str());
        RenderRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const std::vector<std::uint8_t> err = fileBytes(dir_ / "err.txt");
        run.err.assign(err.begin(), err.end());
        EXPECT_TRUE(fs::is_empty(dir_ / "out.txt")) << arguments;
        fs::remove(dir_ / "out.txt");
        fs::remove(dir_ / "err.txt");
        return run;
    }

    RgbPicture picture(const std::string& name) {
        const std::vector<std::uint8_t> bytes = fileBytes(dir_ / name);
        return name.ends_with(".bmp") ? readBmp(bytes) : readPng(bytes);
    }

    fs::path dir_;
};

// The demo's draws for `seed`: the start-up palette (flags 4, thrown away),
// the grey ramp's (or grey dots') palette, then the pattern filled twice.
std::vector<std::uint8_t> referenceStereogram(std::uint32_t seed, DepthMap& depths, int patternWidth,
                                              bool crossEyed, bool greyDots, bool echoFree) {
    std::srand(seed);
    for (int i = 0; i < 768; ++i) std::rand();
    std::array<std::array<int, 3>, 256> palette{};
    for (int i = 0; i < 256; ++i) {
        if (i < 32) {
            palette[static_cast<std::size_t>(i)] = {i * 8, i * 8, i * 8};
            continue;
        }
        const int r = std::rand() & 0xFF;
        const int g = std::rand() & 0xFF;
        const int b = std::rand() & 0xFF;
        palette[static_cast<std::size_t>(i)] = greyDots ? std::array<int, 3>{r, r, r} : std::array<int, 3>{r, g, b};
    }
    DepthMapPtr pattern = createDepthMap(patternWidth, 60);
    for (int fill = 0; fill < 2; ++fill) {
        for (int i = 0; i < patternWidth * 60; ++i) pattern->pixels[i] = static_cast<std::uint8_t>(std::rand());
    }
    if (crossEyed) {
        for (int i = 0; i < 640 * 480; ++i) depths.pixels[i] = static_cast<std::uint8_t>(31 - depths.pixels[i]);
    }
    if (echoFree) {
        referenceEchoFree(depths, *pattern);
    } else {
        oracleTransform(depths, *pattern);
    }
    return rgbOf(depths, [&palette](std::uint8_t index) { return palette[index]; });
}

TEST_F(RenderTest, DepthViewIsTheDepthMapInGrey) {
    struct Case {
        const char* arguments;
        const char* file;
        int dx, dy;
    };
    const Case cases[] = {
        {"depth.png --view depth --world w/world.xml", "depth.png", 0, 0},
        {"depth.bmp --world w/world.xml --view depth", "depth.bmp", 0, 0},
        {"moved.png --view depth --world w/world.xml --camera -20 30", "moved.png", -20, 30},
    };
    for (const Case& c : cases) {
        const RenderRun run = render(c.arguments);
        ASSERT_EQ(run.status, 0) << c.arguments << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.arguments;
        const RgbPicture got = picture(c.file);
        ASSERT_TRUE(got.read) << c.arguments;
        EXPECT_TRUE(got.indexed256) << c.arguments;
        ASSERT_EQ(got.width, 640);
        ASSERT_EQ(got.height, 480);
        DepthMapPtr depths = expectedDepths(c.dx, c.dy);
        EXPECT_EQ(got.rgb, rgbOf(*depths, [](std::uint8_t d) { return std::array<int, 3>{d * 8, d * 8, d * 8}; }))
            << c.arguments;
    }
}

TEST_F(RenderTest, SeededStereogramIsTheDemosDrawOfRand) {
    struct Case {
        const char* arguments;
        int patternWidth;
        bool crossEyed, greyDots, echoFree;
    };
    const Case cases[] = {
        {"s.png --world w/world.xml --seed 1", 128, false, false, false},
        {"s.png --world w/world.xml --seed 4000000000 --cross-eyed", 128, true, false, false},
        {"s.png --world w/world.xml --seed 17 --pattern-width 80 --grey-dots", 80, false, true, false},
        {"s.bmp --world w/world.xml --seed 0 --view stereo --pattern-width 192", 192, false, false, false},
        {"s.png --world w/world.xml --seed 3 --echo-free", 128, false, false, true},
        {"s.png --echo-free --world w/world.xml --seed 3 --cross-eyed", 128, true, false, true},
    };
    for (const Case& c : cases) {
        const RenderRun run = render(c.arguments);
        ASSERT_EQ(run.status, 0) << c.arguments << ": " << run.err;
        std::istringstream words(c.arguments);
        std::string file;
        std::string seedWord;
        std::uint32_t seed = 0;
        words >> file;
        while (words >> seedWord && seedWord != "--seed") {
        }
        words >> seed;
        const RgbPicture got = picture(file);
        ASSERT_TRUE(got.read) << c.arguments;
        DepthMapPtr depths = expectedDepths(0, 0);
        EXPECT_EQ(got.rgb, referenceStereogram(seed, *depths, c.patternWidth, c.crossEyed, c.greyDots, c.echoFree))
            << c.arguments;
    }
}

TEST_F(RenderTest, SequencesAreNumberedAndRepeatByteForByte) {
    ASSERT_EQ(render("a.png --world w/world.xml --seed 9 --frames 3 --fps 10 --time 1.5").status, 0);
    fs::create_directory(dir_ / "again");
    ASSERT_EQ(render("again/a.png --world w/world.xml --seed 9 --frames 3 --fps 10 --time 1.5").status, 0);
    for (const char* name : {"a-0000.png", "a-0001.png", "a-0002.png"}) {
        ASSERT_TRUE(fs::exists(dir_ / name)) << name;
        EXPECT_EQ(fileBytes(dir_ / name), fileBytes(dir_ / "again" / name)) << name;
    }
    EXPECT_FALSE(fs::exists(dir_ / "a.png"));
    // The dots are new on every frame, as in the demo.
    EXPECT_NE(picture("a-0000.png").rgb, picture("a-0001.png").rgb);
}

// Frame k shows time T + k / F: in the sample world, whose birds, balls and
// walker move, frame 3 of a run from 0.3 s at 4 frames a second is the
// single frame at 1.05 s. (Times chosen so that no animation sits on the
// edge between two of its frames, where float sums may round either way.)
TEST_F(RenderTest, TimeAndFrameRateSetTheClockOfEachFrame) {
    // Seeded: the palette's entries above the grey ramp are random even in
    // the depth view.
    const std::string world =
        std::string(" --seed 5 --view depth --world '") + TOLVANE_SOURCE_DIR + "/assets/world.xml'";
    ASSERT_EQ(render("run.png --time 0.3 --frames 4 --fps 4" + world).status, 0);
    ASSERT_EQ(render("later.png --time 1.05" + world).status, 0);
    EXPECT_EQ(fileBytes(dir_ / "run-0003.png"), fileBytes(dir_ / "later.png"));
    EXPECT_NE(fileBytes(dir_ / "run-0000.png"), fileBytes(dir_ / "later.png"));
}

TEST_F(RenderTest, FailuresSayWhatAndLeaveNothing) {
    struct Case {
        const char* arguments;
        const char* errStart;
    };
    const Case cases[] = {
        {"missing/out.png --world w/world.xml", "missing/out.png: cannot write: "},
        {"w/out.png --world w/world.xml --frames 2 --view depth --fps 0", "tolvane: --fps needs a whole number"},
        // The reason and a pointer to the help, not the whole usage.
        {"out.jpg", "tolvane: --render needs an output file ending in .png or .bmp, not \"out.jpg\"\n"
                    "try tolvane --help\n"},
    };
    for (const Case& c : cases) {
        const auto before = std::distance(fs::recursive_directory_iterator(dir_), fs::recursive_directory_iterator());
        const RenderRun run = render(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_EQ(run.err.rfind(c.errStart, 0), 0u) << c.arguments << ": " << run.err;
        const auto after = std::distance(fs::recursive_directory_iterator(dir_), fs::recursive_directory_iterator());
        EXPECT_EQ(after, before) << c.arguments;
    }
    // A write error is one line.
    const RenderRun run = render("missing/out.png --world w/world.xml");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;

    // World problems go to standard error as in the demo; the picture is
    // still made, flat.
    const RenderRun flat = render("flat.png --view depth --world nowhere.xml");
    EXPECT_EQ(flat.status, 0);
    EXPECT_EQ(flat.err.rfind("nowhere.xml: ", 0), 0u) << flat.err;
    const RgbPicture got = picture("flat.png");
    ASSERT_TRUE(got.read);
    EXPECT_TRUE(std::all_of(got.rgb.begin(), got.rgb.end(), [](std::uint8_t v) { return v == 0; }));
}

}  // namespace
