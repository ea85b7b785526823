// Pictures and the headless renderer: the PNG and BMP bytes, the renderer's
// arguments, and real renders compared with the depth map and with a
// reference drawn from the C library's rand().

#include "app/render.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/depth_render.hpp"
#include "bench/stereo_oracle.hpp"
#include "depth/indexed_bitmap.hpp"
#include "tests/app/test_picture.hpp"
#include "tests/depth/png_fixtures.hpp"
#include "tests/stereo/echo_free_reference.hpp"

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

// The renderer's arguments (those after "--render") as the command line reads them.
CommandLine parseRender(const std::vector<const char*>& arguments) {
    std::vector<const char*> argv{"tolvane", "--render"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
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
        {{"out.png", "--time", "."}, "--time needs seconds from 0 to 1000000 as a plain decimal, not \".\""},
        {{"out.png", "--time", "1..2"}, "--time needs seconds from 0 to 1000000 as a plain decimal, not \"1..2\""},
        {{"out.png", "--time", "0x10"}, "--time needs seconds from 0 to 1000000 as a plain decimal, not \"0x10\""},
        {{"out.png", "--time", " 1"}, "--time needs seconds from 0 to 1000000 as a plain decimal, not \" 1\""},
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
        {{"out.png", "--jobs", "0"}, "--jobs needs a whole number from 1 to 256, not \"0\""},
        {{"out.png", "--jobs", "257"}, "--jobs needs a whole number from 1 to 256, not \"257\""},
        {{"out.png", "--first-frame", "-1"}, "--first-frame needs a whole number from 0 to 100000000, not \"-1\""},
        {{"out.png", "--first-frame", "100000001"},
         "--first-frame needs a whole number from 0 to 100000000, not \"100000001\""},
        {{"out.png", "--first-frame"}, "--first-frame needs a value"},
        // A depth picture: its own options, none of a world's.
        {{"out.png", "--depth", "d-%03d.png", "--pattern-width", "16", "--depth-levels", "15", "--guide-dots",
          "--frames", "3", "--seed", "2", "--cross-eyed", "--echo-free", "--grey-dots"},
         ""},
        {{"out.png", "--depth", "d.png", "--texture", "t.png", "--depth-levels", "256"}, ""},
        {{"out.png", "--depth"}, "--depth needs a value"},
        {{"out.png", "--depth", ""}, "--depth needs a file name, not \"\""},
        {{"out.png", "--depth", "d.png", "--pattern-width", "15"},
         "--pattern-width needs a whole number from 16 to 268435456, not \"15\""},
        {{"out.png", "--depth", "d.png", "--depth-levels", "1"},
         "--depth-levels needs a whole number from 2 to 256, not \"1\""},
        {{"out.png", "--depth", "d.png", "--depth-levels", "257"},
         "--depth-levels needs a whole number from 2 to 256, not \"257\""},
        {{"out.png", "--depth-levels", "8"}, "--depth-levels needs --depth"},
        {{"out.png", "--guide-dots"}, "--guide-dots needs --depth"},
        {{"out.png", "--texture", "t.png"}, "--texture needs --depth"},
        {{"out.png", "--depth", "d.png", "--camera", "1", "2"},
         "--camera belongs to a world; --depth draws a picture without one"},
        {{"out.png", "--world", "w.xml", "--depth", "d.png"},
         "--world belongs to a world; --depth draws a picture without one"},
        {{"out.png", "--depth", "d.png", "--first-frame", "2"},
         "--first-frame belongs to a world; --depth draws a picture without one"},
        {{"out.png", "--depth", "d.png", "--texture", "t.png", "--pattern-width", "64"},
         "--pattern-width cannot go with --texture: the texture's width is the pattern width"},
        {{"out.bmp", "--depth", "d.png", "--texture", "t.png"},
         "--texture makes an RGB picture: the output must end in .png, not \"out.bmp\""},
    };
    for (const Case& c : cases) {
        const CommandLine got = parseRender(c.args);
        const bool accepted = got.mode == RunMode::Render;
        EXPECT_EQ(accepted, c.error[0] == '\0') << c.error << " / " << got.error;
        if (!accepted) {
            EXPECT_EQ(got.mode, RunMode::Error);
            EXPECT_EQ(got.error, c.error);
        }
    }

    const CommandLine bare = parseRender({"out.png"});
    ASSERT_EQ(bare.mode, RunMode::Render);
    const RenderOptions& defaults = bare.render;
    EXPECT_EQ(defaults.worldFile, "world.xml");
    EXPECT_FALSE(defaults.depthView);
    EXPECT_EQ(defaults.frames, 1);
    EXPECT_EQ(defaults.fps, 30);
    EXPECT_EQ(defaults.startTime, 0.0);
    EXPECT_FALSE(defaults.seeded);
    EXPECT_EQ(defaults.patternWidth, 128);
    for (const auto& [name, format] : {std::pair{"A.PNG", PictureFormat::Png}, std::pair{"a.bMp", PictureFormat::Bmp}}) {
        const CommandLine named = parseRender({name});
        ASSERT_EQ(named.mode, RunMode::Render) << name;
        EXPECT_EQ(named.render.format, format) << name;
    }
    EXPECT_EQ(defaults.format, PictureFormat::Png);
    EXPECT_EQ(defaults.firstFrame, 0);
    EXPECT_FALSE(defaults.firstFrameGiven);
    EXPECT_EQ(defaults.jobs, 0) << "one job per core";

    const CommandLine parsed = parseRender(cases[1].args);
    ASSERT_EQ(parsed.mode, RunMode::Render);
    const RenderOptions& all = parsed.render;
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

    const CommandLine split = parseRender({"--first-frame", "100000000", "a.bmp", "--jobs", "256"});
    ASSERT_EQ(split.mode, RunMode::Render);
    EXPECT_EQ(split.render.firstFrame, 100000000);
    EXPECT_TRUE(split.render.firstFrameGiven);
    EXPECT_EQ(split.render.jobs, 256);
}

// ffmpeg's image2 names: %d, %0Nd and %% only.
TEST(RenderArguments, DepthFrameNames) {
    struct Case {
        const char* pattern;
        int index;
        const char* name;  // null: refused
    };
    const Case cases[] = {
        {"d.png", 7, "d.png"},
        {"d-%d.png", 12, "d-12.png"},
        {"f/d-%04d.png", 7, "f/d-0007.png"},
        {"d-%04d.png", 12345, "d-12345.png"},
        {"d-%01d.png", 0, "d-0.png"},
        {"100%%-%02d.png", 3, "100%-03.png"},
        {"%%d.png", 3, "%d.png"},
        {"d-%20d.png", 1, nullptr},
        {"d-%4d.png", 1, nullptr},
        {"d-%s.png", 1, nullptr},
        {"d-%00d.png", 1, nullptr},
        {"d-%021d.png", 1, nullptr},
        {"d-%-4d.png", 1, nullptr},
        {"d-%", 1, nullptr},
        {"d-%0", 1, nullptr},
        {"%d-%d.png", 1, nullptr},
        {"d%.png", 1, nullptr},
    };
    for (const Case& c : cases) {
        std::string name;
        std::string error;
        const bool made = depthFrameName(c.pattern, c.index, name, error);
        EXPECT_EQ(made, c.name != nullptr) << c.pattern << ": " << error;
        if (c.name != nullptr) {
            EXPECT_EQ(name, c.name);
        } else {
            EXPECT_FALSE(error.empty()) << c.pattern;
        }
    }
}

TEST(RenderArguments, FileNamesOfASequence) {
    struct Case {
        const char* output;
        int index;
        bool numbered;
        const char* name;
    };
    const Case cases[] = {
        {"out.png", 0, false, "out.png"},          {"out.png", 0, true, "out-0000.png"},
        {"out.png", 1, true, "out-0001.png"},      {"dir.v2/out.bmp", 12, true, "dir.v2/out-0012.bmp"},
        {"a.png", 12345, true, "a-12345.png"},     {"a.png", 100000000, true, "a-100000000.png"},
    };
    for (const Case& c : cases) EXPECT_EQ(renderFileName(c.output, c.index, c.numbered), c.name) << c.name;
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

    // The real program in dir_, without any display; `environment` adds
    // NAME=VALUE settings.
    RenderRun render(const std::string& arguments, const std::string& environment = "") {
        const std::string command = "cd '" + dir_.string() + "' && env -u DISPLAY SDL_VIDEODRIVER=nonexistent " +
                                    environment + " '" + TOLVANE_BINARY + "' --render " + arguments +
                                    " </dev/null >out.txt 2>err.txt";
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

    void save(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

// Every number of jobs, and every split by --first-frame, writes the files
// of one run on one job, byte for byte: the stereogram's dots included,
// which a later part reaches by jumping the generator ahead.
TEST_F(RenderTest, JobsAndSplitsWriteTheFilesOfOneRun) {
    const std::string world = std::string(" --seed 11 --world '") + TOLVANE_SOURCE_DIR + "/assets/world.xml'";
    ASSERT_EQ(render("one.png --frames 7 --fps 12 --time 0.2 --jobs 1" + world).status, 0);
    ASSERT_EQ(render("many.png --frames 7 --fps 12 --time 0.2 --jobs 3" + world).status, 0);
    ASSERT_EQ(render("part.png --first-frame 0 --frames 3 --fps 12 --time 0.2" + world).status, 0);
    ASSERT_EQ(render("part.png --first-frame 3 --frames 1 --fps 12 --time 0.2" + world).status, 0);
    ASSERT_EQ(render("part.png --first-frame 4 --frames 3 --fps 12 --time 0.2 --jobs 2" + world).status, 0);
    for (int k = 0; k < 7; ++k) {
        char number[8];
        std::snprintf(number, sizeof number, "%04d", k);
        const std::vector<std::uint8_t> one = fileBytes(dir_ / ("one-" + std::string(number) + ".png"));
        ASSERT_FALSE(one.empty()) << k;
        EXPECT_EQ(fileBytes(dir_ / ("many-" + std::string(number) + ".png")), one) << k;
        EXPECT_EQ(fileBytes(dir_ / ("part-" + std::string(number) + ".png")), one) << k;
    }
    EXPECT_FALSE(fs::exists(dir_ / "part-0007.png"));
}

// Each frame's time comes from its number, not from a sum of steps: a
// four-column sprite shows column k mod 4 on frame k, at 24 frames a second
// from the start (a float sum of 1/24 falls behind by frame 7) and a
// million seconds in (where a float sum stops moving).
TEST_F(RenderTest, FrameTimesAreExactOverLongRunsAndLateStarts) {
    std::ofstream(dir_ / "w" / "strip.txt") << "4 1\n3579\n";
    const struct {
        const char* rate;
        const char* startFrame;
        const char* start;
    } cases[] = {{"24", "0", "0"}, {"24", "0.5", "1000000"}, {"30", "0.5", "1000000"}};
    for (const auto& c : cases) {
        std::ofstream(dir_ / "w" / "anim.xml")
            << "<World>\n<image type=\"sprite\" name=\"s\" file=\"strip.txt\" sizex=\"1\" sizey=\"1\" />\n"
               "<element type=\"ani\" imagename=\"s\" x=\"10\" y=\"10\" fps=\"" << c.rate << "\" startframe=\""
            << c.startFrame << "\" />\n</World>\n";
        const std::string args = std::string("f.png --view depth --seed 1 --world w/anim.xml --frames 40 --fps ") +
                                 c.rate + " --time " + c.start;
        ASSERT_EQ(render(args).status, 0) << args;
        for (int k = 4; k < 40; ++k) {
            ASSERT_EQ(fileBytes(dir_ / renderFileName("f.png", k, true)),
                      fileBytes(dir_ / renderFileName("f.png", k % 4, true)))
                << args << ": frame " << k;
        }
        for (int k = 1; k < 4; ++k) {
            EXPECT_NE(fileBytes(dir_ / renderFileName("f.png", k, true)), fileBytes(dir_ / "f-0000.png"))
                << args << ": frame " << k;
        }
    }
}

TEST_F(RenderTest, FailuresSayWhatAndLeaveNothing) {
    struct Case {
        const char* arguments;
        const char* errStart;
    };
    const Case cases[] = {
        {"missing/out.png --world w/world.xml", "missing/out.png: cannot create: No such file or directory\n"},
        {"out.png --world nowhere.xml",
         "nowhere.xml: cannot be read from the working folder: No such file or directory; the world is empty\n"},
        {"out.png --world w", "w: cannot be read from the working folder: it is a directory, not a file; the world is "
                              "empty\n"},
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
    std::ofstream(dir_ / "w" / "empty.xml") << "<World><element type=\"scene\" imagename=\"none\" /></World>";
    const RenderRun flat = render("flat.png --view depth --world w/empty.xml");
    EXPECT_EQ(flat.status, 0);
    EXPECT_EQ(flat.err.rfind("w/empty.xml: element 1 (scene \"none\"): no image named", 0), 0u) << flat.err;
    const RgbPicture got = picture("flat.png");
    ASSERT_TRUE(got.read);
    EXPECT_TRUE(std::all_of(got.rgb.begin(), got.rgb.end(), [](std::uint8_t v) { return v == 0; }));
}

// ---- depth pictures at their own size

// The depth a grey level v of a b-bit sample takes with `levels` depths
// (1-, 2- and 4-bit grey widened to 8 bits first).
int depthOfLevel(std::uint32_t v, int bitDepth, int levels) {
    if (bitDepth < 8) v = v * 255 / ((1u << bitDepth) - 1);
    const std::uint32_t range = bitDepth == 16 ? 65536 : 256;
    return static_cast<int>(v * static_cast<std::uint32_t>(levels) / range);
}

// A smooth, asymmetric relief: a slanted ridge, so that every row holds
// many depths and runs of each.
std::vector<std::uint16_t> reliefLevels(int width, int height, int range) {
    std::vector<std::uint16_t> levels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int ridge = std::abs(x - width / 3 - y * 2);
            levels.push_back(static_cast<std::uint16_t>(std::max(0, range - 1 - ridge * range / width * 2)));
        }
    }
    return levels;
}

std::array<std::uint8_t, 3> pixelOf(const RgbPicture& picture, int x, int y) {
    const std::size_t at = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) + x);
    return {picture.rgb[at], picture.rgb[at + 1], picture.rgb[at + 2]};
}

// Every pixel left of the strip repeats the one P - d(x) to its right.
int repeatRuleBreaks(const RgbPicture& picture, const std::vector<int>& depths, int patternWidth) {
    int breaks = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width - patternWidth; ++x) {
            const int d = depths[static_cast<std::size_t>(y * picture.width + x)];
            if (pixelOf(picture, x, y) != pixelOf(picture, x + patternWidth - d, y)) ++breaks;
        }
    }
    return breaks;
}

TEST_F(RenderTest, DepthPicturesOfEveryKindRepeatAsTheirDepthsSay) {
    constexpr int kW = 97;
    constexpr int kH = 6;
    constexpr int kP = 40;
    int round = 0;
    for (const png_fixture::Kind& kind : png_fixture::everyKind()) {
        SCOPED_TRACE(kind.label);
        const bool palette = kind.colorType == PNG_COLOR_TYPE_PALETTE;
        const int bitDepth = palette ? 8 : kind.bitDepth;
        std::vector<std::uint16_t> levels = reliefLevels(kW, kH, palette ? 16 : 1 << kind.bitDepth);
        if (palette) {
            for (std::uint16_t& v : levels) v = static_cast<std::uint16_t>(v * 17);  // 16 greys over 0 to 255
        }
        const std::vector<std::uint8_t> file = png_fixture::greyAs(kind, kW, kH, levels);
        ASSERT_FALSE(file.empty());
        save("d.png", file);
        // Levels from 2 to P - 1, and one viewer crossing the eyes.
        const int depthLevels = std::array<int, 4>{32, 2, 39, 7}[round % 4];
        const bool crossEyed = round % 5 == 3;
        ++round;
        const std::string arguments = "s.png --depth d.png --seed 4 --pattern-width " + std::to_string(kP) +
                                      " --depth-levels " + std::to_string(depthLevels) +
                                      (crossEyed ? " --cross-eyed" : "");
        const RenderRun run = render(arguments);
        ASSERT_EQ(run.status, 0) << arguments << ": " << run.err;
        EXPECT_EQ(run.err, "");
        const RgbPicture got = picture("s.png");
        ASSERT_TRUE(got.read);
        EXPECT_TRUE(got.indexed256);
        ASSERT_EQ(got.width, kW);
        ASSERT_EQ(got.height, kH);
        std::vector<int> depths;
        for (const std::uint16_t v : levels) {
            const int d = depthOfLevel(v, bitDepth, depthLevels);
            depths.push_back(crossEyed ? depthLevels - 1 - d : d);
        }
        EXPECT_GT(*std::max_element(depths.begin(), depths.end()), 0);
        EXPECT_EQ(repeatRuleBreaks(got, depths, kP), 0) << arguments;
        // Wrong depths break it: the rule is not met by any picture.
        std::vector<int> shifted = depths;
        for (int& d : shifted) d = d == 0 ? 1 : d - 1;
        EXPECT_GT(repeatRuleBreaks(got, shifted, kP), 0);
    }
}

// A texture is the pattern: the strip is the texture at (x - d + P) mod P
// on row y mod Q, the rest repeats; the output is RGB.
TEST_F(RenderTest, TextureFillsTheStripAndRepeatsInColour) {
    constexpr int kW = 61;
    constexpr int kH = 12;
    constexpr int kP = 24;
    constexpr int kQ = 5;
    std::vector<std::uint16_t> texture;
    for (int y = 0; y < kQ; ++y) {
        for (int x = 0; x < kP; ++x) {
            texture.insert(texture.end(), {static_cast<std::uint16_t>(x * 10), static_cast<std::uint16_t>(y * 50),
                                           static_cast<std::uint16_t>((x * 7 + y * 3) % 256)});
        }
    }
    save("t.png", png_fixture::make({"RGB", PNG_COLOR_TYPE_RGB, 8}, kP, kQ, texture));
    const std::vector<std::uint16_t> levels = reliefLevels(kW, kH, 256);
    save("d.png", png_fixture::greyAs({"grey", PNG_COLOR_TYPE_GRAY, 8}, kW, kH, levels));

    const RenderRun run = render("t-out.png --depth d.png --texture t.png --depth-levels 20");
    ASSERT_EQ(run.status, 0) << run.err;
    const RgbPicture got = picture("t-out.png");
    ASSERT_TRUE(got.read);
    EXPECT_FALSE(got.indexed256);
    ASSERT_EQ(got.width, kW);
    ASSERT_EQ(got.height, kH);
    std::vector<int> depths;
    for (const std::uint16_t v : levels) depths.push_back(depthOfLevel(v, 8, 20));
    for (int y = 0; y < kH; ++y) {
        for (int x = kW - kP; x < kW; ++x) {
            const int column = ((x - depths[static_cast<std::size_t>(y * kW + x)] + kP) % kP + kP) % kP;
            const std::size_t at = 3 * static_cast<std::size_t>((y % kQ) * kP + column);
            const std::array<std::uint8_t, 3> expected = {static_cast<std::uint8_t>(texture[at]),
                                                          static_cast<std::uint8_t>(texture[at + 1]),
                                                          static_cast<std::uint8_t>(texture[at + 2])};
            EXPECT_EQ(pixelOf(got, x, y), expected) << x << ", " << y;
        }
    }
    EXPECT_EQ(repeatRuleBreaks(got, depths, kP), 0);

    // The guide marks: dark centres P apart over the middle, near the top.
    GuideMarks marks;
    ASSERT_TRUE(placeGuideMarks(kW, kH, kP, marks));
    ASSERT_EQ(render("g.png --depth d.png --texture t.png --guide-dots --depth-levels 20").status, 0);
    const RgbPicture guided = picture("g.png");
    ASSERT_TRUE(guided.read);
    for (const int x : {marks.leftX, marks.leftX + kP}) {
        EXPECT_EQ(pixelOf(guided, x, marks.y), (std::array<std::uint8_t, 3>{0, 0, 0})) << x;
        EXPECT_EQ(pixelOf(guided, x, marks.y + marks.radius + 1), (std::array<std::uint8_t, 3>{255, 255, 255})) << x;
    }
    EXPECT_LT(marks.leftX, kW / 2);
    EXPECT_GT(marks.leftX + kP, kW / 2);
}

TEST_F(RenderTest, DepthSequencesReadEachNumberedPicture) {
    const png_fixture::Kind grey{"grey", PNG_COLOR_TYPE_GRAY, 8};
    const auto saveRelief = [&](const std::string& name, int width, int height, int flip) {
        std::vector<std::uint16_t> levels = reliefLevels(width, height, 256);
        if (flip) std::reverse(levels.begin(), levels.end());
        const std::vector<std::uint8_t> bytes = png_fixture::greyAs(grey, width, height, levels);
        save(name, bytes);
        std::vector<int> depths;
        for (const std::uint16_t v : levels) depths.push_back(v >> 3);
        return depths;
    };
    fs::create_directory(dir_ / "f");
    const std::vector<int> first = saveRelief("f/d-007.png", 80, 4, 0);
    const std::vector<int> second = saveRelief("f/d-008.png", 80, 4, 1);
    std::vector<std::vector<int>> expected;
    const RenderRun run = render("s.png --depth f/d-%03d.png --frames 2 --seed 1 --pattern-width 33");
    // Frames count from 0: d-000.png is missing, and nothing is written.
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("f/d-000.png: cannot read: ", 0), 0u) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "s-0000.png"));
    fs::rename(dir_ / "f/d-007.png", dir_ / "f/d-000.png");
    fs::rename(dir_ / "f/d-008.png", dir_ / "f/d-001.png");
    ASSERT_EQ(render("s.png --depth f/d-%03d.png --frames 2 --seed 1 --pattern-width 33").status, 0);
    EXPECT_EQ(repeatRuleBreaks(picture("s-0000.png"), first, 33), 0);
    EXPECT_EQ(repeatRuleBreaks(picture("s-0001.png"), second, 33), 0);
    EXPECT_GT(repeatRuleBreaks(picture("s-0001.png"), first, 33), 0);

    // A picture of another size stops the render before anything is written.
    fs::remove(dir_ / "s-0000.png");
    fs::remove(dir_ / "s-0001.png");
    saveRelief("f/d-002.png", 81, 4, 0);
    const RenderRun odd = render("s.png --depth f/d-%03d.png --frames 3 --seed 1 --pattern-width 33");
    EXPECT_EQ(odd.status, 2);
    EXPECT_EQ(odd.err, "f/d-002.png: the picture is 81 x 4, not 80 x 4 as the first of the sequence\n");
    EXPECT_FALSE(fs::exists(dir_ / "s-0000.png"));
}

// SDL (and the fifty libraries of SDL 2 behind it) is opened only by what
// needs a window or the bitmap codec, so a depth picture's render starts
// without it; the loader's own trace shows what was opened.
TEST_F(RenderTest, DepthPictureRenderNeverOpensSdl) {
    const std::vector<std::uint8_t> file =
        png_fixture::greyAs({"grey", PNG_COLOR_TYPE_GRAY, 8}, 64, 2, reliefLevels(64, 2, 256));
    save("d.png", file);
    const RenderRun run = render("s.png --depth d.png --pattern-width 40", "LD_DEBUG=files");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("libpng16.so"), std::string::npos) << "no trace of the libraries opened: " << run.err;
    EXPECT_EQ(run.err.find("libSDL"), std::string::npos) << run.err;
}

// A PNG of dots is drawn a band of pattern periods at a time while the
// picture is read; a bitmap is drawn from the whole picture. Both must be
// the same dots, across band edges, marks and a last short band.
TEST_F(RenderTest, DotsDrawnWhileReadingEqualThoseOfTheWholePicture) {
    constexpr int kW = 150;
    constexpr int kH = 197;  // three whole periods of 60 rows and a short one
    for (const bool interlaced : {false, true}) {
        const png_fixture::Kind kind{"grey", PNG_COLOR_TYPE_GRAY, 8, interlaced};
        const std::vector<std::uint8_t> file = png_fixture::greyAs(kind, kW, kH, reliefLevels(kW, kH, 256));
        save("d.png", file);
        for (const char* options : {"--seed 7", "--seed 8 --cross-eyed --guide-dots --pattern-width 40",
                                    "--seed 9 --echo-free --depth-levels 100 --pattern-width 120"}) {
            SCOPED_TRACE(std::string(options) + (interlaced ? ", interlaced" : ""));
            ASSERT_EQ(render(std::string("s.png --depth d.png ") + options).status, 0);
            ASSERT_EQ(render(std::string("s.bmp --depth d.png ") + options).status, 0);
            const RgbPicture whileReading = picture("s.png");
            const RgbPicture whole = picture("s.bmp");
            ASSERT_TRUE(whileReading.read && whole.read);
            EXPECT_EQ(whileReading.rgb, whole.rgb);
        }
    }
}

TEST_F(RenderTest, DepthPictureFailuresNameTheFileOrOptionAndLeaveNothing) {
    const png_fixture::Kind grey{"grey", PNG_COLOR_TYPE_GRAY, 8};
    const std::vector<std::uint8_t> depth = png_fixture::greyAs(grey, 50, 3, reliefLevels(50, 3, 256));
    save("d.png", depth);
    save("cut.png", std::vector<std::uint8_t>(depth.begin(), depth.end() - 30));
    save("wide.png", png_fixture::make({"RGB", PNG_COLOR_TYPE_RGB, 8}, 51, 1, std::vector<std::uint16_t>(153, 9)));
    save("t.png", png_fixture::make({"RGB", PNG_COLOR_TYPE_RGB, 8}, 40, 1, std::vector<std::uint16_t>(120, 9)));
    save("s-0000.png", depth);
    save("s-0001.png", depth);
    save("d.gif", depth);
    struct Case {
        const char* arguments;
        const char* err;  // the whole of standard error, or its start when it ends in "..."
    };
    const Case cases[] = {
        {"o.png --depth none.png", "none.png: cannot read: cannot open: No such file or directory\n"},
        {"o.png --depth d.gif", "d.gif: cannot read: the file's own name (after any folder) contains none of "
                                "\".bmp\", \".png\", \".schm\", \".scmhm\", \".txt\"\n"},
        {"o.png --depth cut.png --pattern-width 40", "cut.png: cannot read: cannot decode PNG: ..."},
        {"o.png --depth d.png --pattern-width 51", "--pattern-width 51 is wider than the picture (50 pixels)\n"},
        {"o.png --depth d.png --pattern-width 20 --depth-levels 20",
         "--depth-levels 20 is not below the pattern width 20\n"},
        {"o.png --depth d.png --texture wide.png",
         "--texture wide.png: its width 51 is wider than the picture (50 pixels)\n"},
        {"o.png --depth d.png --texture cut.png", "cut.png: cannot read: cannot decode PNG: ..."},
        {"o.png --depth d-%s.png", "--depth d-%s.png: \"%s\" is not a frame number: ..."},
        {"missing/o.png --depth d.png --pattern-width 40", "missing/o.png: cannot ..."},
        {"d.png --depth d.png --pattern-width 40", "d.png: cannot replace: it is the input picture d.png\n"},
        {"t.png --depth d.png --texture t.png", "t.png: cannot replace: it is the input picture t.png\n"},
        {"s.png --depth s-%04d.png --frames 2 --pattern-width 40",
         "s-0000.png: cannot replace: it is the input picture s-0000.png\n"},
    };
    for (const Case& c : cases) {
        const auto before = std::distance(fs::recursive_directory_iterator(dir_), fs::recursive_directory_iterator());
        const RenderRun run = render(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        const std::string err = c.err;
        if (err.ends_with("...")) {
            EXPECT_EQ(run.err.rfind(err.substr(0, err.size() - 3), 0), 0u) << c.arguments << ": " << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        } else {
            EXPECT_EQ(run.err, err) << c.arguments;
        }
        const auto after = std::distance(fs::recursive_directory_iterator(dir_), fs::recursive_directory_iterator());
        EXPECT_EQ(after, before) << c.arguments;
    }
}

// A write that fails says so once, with the system's reason, and leaves
// nothing; another user's link in a sticky folder anyone may write to is
// not followed, as the kernel would not follow it.
TEST_F(RenderTest, WriteFailuresKeepTheSystemsReasonAndFollowNoOtherUsersLink) {
    const auto run = [this](const std::string& prefix, const std::string& arguments) {
        const std::string command = "cd '" + dir_.string() + "' && " + prefix + " env -u DISPLAY '" + TOLVANE_BINARY +
                                    "' --render " + arguments + " </dev/null 2>'" + (dir_ / "w" / "err").string() + "'";
        const int raw = std::system(command.c_str());
        const std::vector<std::uint8_t> err = fileBytes(dir_ / "w" / "err");
        fs::remove(dir_ / "w" / "err");
        return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(err.begin(), err.end()));
    };
    const auto before = std::distance(fs::directory_iterator(dir_), fs::directory_iterator());
    const auto [status, err] = run("ulimit -f 1 &&", "big.png --world w/world.xml");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err, "big.png: cannot write: File too large\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), before);

    if (::geteuid() != 0) GTEST_SKIP() << "a link of another user is made with lchown, which needs root";
    std::ofstream(dir_ / "w" / "victim") << "kept";
    fs::create_symlink(dir_ / "w" / "victim", dir_ / "out.png");
    ASSERT_EQ(::lchown((dir_ / "out.png").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 01777), 0);
    const auto [linkStatus, linkErr] = run("", "out.png --world w/world.xml");
    EXPECT_EQ(linkStatus, 2);
    EXPECT_EQ(linkErr, "out.png: cannot replace: it leads through another user's link in a sticky folder anyone "
                       "may write to, which is not followed\n");
    EXPECT_EQ(fileBytes(dir_ / "w" / "victim"), (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));
}

// The numbered picture of K takes its name complete or not at all: a save
// stopped part way (here by the file size limit, whose signal kills by
// default) leaves no empty file to hold stereogram-0001.png for good.
TEST(Pictures, InterruptedNumberedSaveLeavesNoEmptyPicture) {
    char pattern[] = "/tmp/tolvane_numbered_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    DepthMapPtr image = createDepthMap(64, 64);
    ASSERT_TRUE(image);
    for (int i = 0; i < 64 * 64; ++i) image->pixels[i] = static_cast<std::uint8_t>(i * 7);
    const auto save = [&](rlim_t sizeLimit) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = sizeLimit;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            if (::chdir(dir.c_str()) != 0) ::_exit(3);
            std::string name;
            const DepthOutcome saved = saveNumberedPicture(*image, RgbPalette{}, name);
            ::_exit(saved ? 0 : saved.detail == "cannot write: File too large" ? 1 : 2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(save(100), 1);
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(save(RLIM_INFINITY), 0);
    EXPECT_TRUE(readPng(fileBytes(dir / "stereogram-0001.png")).read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove_all(dir);
}

}  // namespace
