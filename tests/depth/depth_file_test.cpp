#include "depth/depth_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "depth/bitmap_file.hpp"
#include "depth_file_fixtures.hpp"
#include "png_fixtures.hpp"

using namespace tolvane;

namespace {

// rows 1 1 2 and 3 3 3 in both compressed forms
const Bytes kSchm = {3, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0x21, 0x02, 0x43};
const Bytes kScmhm = {3, 0, 0, 0, 2, 0, 0, 0, 0x21, 0x02, 0x43, 0x00, 0x00};
const Bytes kDepths = {1, 1, 2, 3, 3, 3};

// The 3 x 2 bitmap of the fixtures (depths 2 3 31 / 31 0 1) in both
// compressed forms.
const Bytes kBitmapSchm = {3, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0x02, 0x03, 0x3F, 0x00, 0x01};
const Bytes kBitmapScmhm = {3, 0, 0, 0, 2, 0, 0, 0, 0x02, 0x03, 0x3F, 0x00, 0x00,
                            0x01, 0x00, 0x00, 0x00, 0x00};

const std::string kText = "3 2\r\n1 0\r\nAU9\r\n";
const Bytes kTextSchm = {3, 0, 0, 0, 2, 0, 0, 0, 6, 0, 0, 0, 0x01, 0x00, 0x0A, 0x0B, 0x1F, 0x09};

Bytes depthsOfBitmapFile(const std::string& name) {
    const DepthResult result = loadBitmapDepthMap(name.c_str());
    return result ? pixelsOf(*result.map) : Bytes{};
}

TEST(DepthFileTest, LoadsByTheFirstExtensionFoundAnywhereInTheName) {
    ScratchFolder folder;
    writeBytes(folder.file("hill.schm"), kSchm);
    writeBytes(folder.file("hill.scmhm.old"), kScmhm);
    writeText(folder.file("hill.txt.bak"), kText);
    writeBytes(folder.file("hill.bmp"), kBitmap24);
    // ".bmp" is tried first, so these are read as bitmaps.
    writeBytes(folder.file("a.bmp.schm"), kSchm);
    writeBytes(folder.file("b.bmp.schm"), kBitmap24);
    writeBytes(folder.file("HILL.SCHM"), kSchm);

    const std::pair<const char*, Bytes> loaded[] = {
        {"hill.schm", kDepths},
        {"hill.scmhm.old", kDepths},
        {"hill.txt.bak", {1, 0, 10, 11, 31, 9}},
        {"hill.bmp", {2, 3, 31, 31, 0, 1}},
        {"b.bmp.schm", {2, 3, 31, 31, 0, 1}},
    };
    for (const auto& [name, depths] : loaded) {
        const DepthResult result = loadDepthMap(folder.file(name).c_str());
        ASSERT_TRUE(result) << name << ": " << result.detail;
        EXPECT_EQ(pixelsOf(*result.map), depths) << name;
    }
    EXPECT_EQ(loadDepthMap(folder.file("a.bmp.schm").c_str()).status, DepthStatus::Undecodable);
    EXPECT_EQ(loadDepthMap(folder.file("HILL.SCHM").c_str()).status, DepthStatus::UnknownExtension);
}

// Only the file's own name counts: folders neither choose the reader nor
// lose an extension to the output name. Names without a folder keep the
// rule of the whole name.
TEST(DepthFileTest, ExtensionsAreLookedForInTheFilesOwnName) {
    const struct {
        const char* input;
        Bytes bytes;
        Bytes depths;                      // as loaded; empty: UnknownExtension
        std::vector<const char*> outputs;  // every file the conversion adds
    } cases[] = {
        {"v1.bmp-exports/hill.bmp", kBitmap24, kBitmap24Depths,
         {"v1.bmp-exports/hill.schm", "v1.bmp-exports/hill.scmhm"}},
        {"a.txt.d/hill.schm", kSchm, kDepths, {"a.txt.d/hill.bmp"}},
        {"b.schm/c.bmp.d/x.txt", Bytes(kText.begin(), kText.end()), {1, 0, 10, 11, 31, 9}, {"b.schm/c.bmp.d/x.schm"}},
        {"d.scmhm/hill.bmp.old", kBitmap24, kBitmap24Depths, {"d.scmhm/hill.old.schm", "d.scmhm/hill.old.scmhm"}},
        {"e.bmp/plain", kBitmap24, {}, {}},
        {"f.txt/", {}, {}, {}},
        {"x.txt.txt", Bytes(kText.begin(), kText.end()), {1, 0, 10, 11, 31, 9}, {"x.txt.schm"}},
        // A PNG converts as a bitmap does.
        {"p.bmp.d/hill.png.old", png_fixture::greyAs({"grey", PNG_COLOR_TYPE_GRAY, 8}, 3, 2, {16, 24, 255, 248, 0, 8}),
         kBitmap24Depths, {"p.bmp.d/hill.old.schm", "p.bmp.d/hill.old.scmhm"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        ScratchFolder folder;
        const std::filesystem::path input = folder.file(c.input);
        std::filesystem::create_directories(input.parent_path());
        if (input.has_filename()) writeBytes(input.string(), c.bytes);
        const auto files = [&] {
            std::vector<std::string> found;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path())) {
                if (entry.is_regular_file()) found.push_back(entry.path().string().substr(folder.path().size() + 1));
            }
            std::sort(found.begin(), found.end());
            return found;
        };
        const std::vector<std::string> before = files();

        const DepthResult loaded = loadDepthMap(input.c_str());
        EXPECT_EQ(loaded ? pixelsOf(*loaded.map) : Bytes{}, c.depths) << loaded.detail;
        std::int64_t width = 0;
        std::int64_t height = 0;
        EXPECT_EQ(peekDepthFileSize(input.c_str(), width, height), !c.depths.empty());
        const DepthOutcome converted = convertDepthFile(input.c_str());
        EXPECT_EQ(converted.status, c.depths.empty() ? DepthStatus::UnknownExtension : DepthStatus::Ok)
            << converted.detail;

        std::vector<std::string> expected = before;
        expected.insert(expected.end(), c.outputs.begin(), c.outputs.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(files(), expected);
    }
}

TEST(DepthFileTest, ConvertsCompressedFilesToBitmaps) {
    ScratchFolder folder;
    writeBytes(folder.file("hill.schm"), kSchm);
    writeBytes(folder.file("dune.scmhm"), kScmhm);
    writeBytes(folder.file("hill.bmp"), {'o', 'l', 'd'});  // replaced
    writeBytes(folder.file("a.bmp.schm"), kSchm);

    for (const char* name : {"hill.schm", "dune.scmhm", "a.bmp.schm"}) {
        const DepthOutcome converted = convertDepthFile(folder.file(name).c_str());
        EXPECT_TRUE(converted) << converted.detail;
    }
    EXPECT_EQ(depthsOfBitmapFile(folder.file("hill.bmp")), kDepths);
    EXPECT_EQ(depthsOfBitmapFile(folder.file("dune.bmp")), kDepths);
    EXPECT_EQ(depthsOfBitmapFile(folder.file("a.bmp.bmp")), kDepths);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"a.bmp.bmp", "a.bmp.schm", "dune.bmp",
                                                         "dune.scmhm", "hill.bmp", "hill.schm"}));
}

TEST(DepthFileTest, ConvertsBitmapsToBothCompressedForms) {
    ScratchFolder folder;
    writeBytes(folder.file("hill.bmp"), kBitmap24);
    writeBytes(folder.file("hill.bmp.old"), kBitmap24);
    ASSERT_TRUE(convertDepthFile(folder.file("hill.bmp").c_str()));
    ASSERT_TRUE(convertDepthFile(folder.file("hill.bmp.old").c_str()));
    EXPECT_EQ(readBytes(folder.file("hill.schm")), kBitmapSchm);
    EXPECT_EQ(readBytes(folder.file("hill.scmhm")), kBitmapScmhm);
    EXPECT_EQ(readBytes(folder.file("hill.old.schm")), kBitmapSchm);
    EXPECT_EQ(readBytes(folder.file("hill.old.scmhm")), kBitmapScmhm);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"hill.bmp", "hill.bmp.old", "hill.old.schm",
                                                         "hill.old.scmhm", "hill.schm", "hill.scmhm"}));
}

TEST(DepthFileTest, ConvertsTextOnlyToSchmRemovingTheFirstExtension) {
    ScratchFolder folder;
    writeText(folder.file("hill.txt"), kText);
    writeText(folder.file("x.txt.txt"), kText);
    ASSERT_TRUE(convertDepthFile(folder.file("hill.txt").c_str()));
    ASSERT_TRUE(convertDepthFile(folder.file("x.txt.txt").c_str()));
    EXPECT_EQ(readBytes(folder.file("hill.schm")), kTextSchm);
    EXPECT_EQ(readBytes(folder.file("x.txt.schm")), kTextSchm);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"hill.schm", "hill.txt", "x.txt.schm", "x.txt.txt"}));
}

TEST(DepthFileTest, UnknownExtensionsTouchNothing) {
    ScratchFolder folder;
    writeBytes(folder.file("HILL.BMP"), kBitmap24);
    for (const char* name : {"HILL.BMP", "hill", "hill.bm", "hill.sch"}) {
        EXPECT_EQ(convertDepthFile(folder.file(name).c_str()).status, DepthStatus::UnknownExtension) << name;
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"HILL.BMP"});
}

TEST(DepthFileTest, FailedConversionsNameTheFileAndChangeNothing) {
    ScratchFolder folder;
    const Bytes old = {'o', 'l', 'd'};
    writeBytes(folder.file("short.schm"), Bytes(kSchm.begin(), kSchm.end() - 2));
    writeBytes(folder.file("short.bmp"), old);
    writeBytes(folder.file("tiny.scmhm"), Bytes(kScmhm.begin(), kScmhm.begin() + 12));
    writeText(folder.file("bad.txt"), "three two\n");
    writeBytes(folder.file("broken.bmp"), Bytes(kBitmap24.begin(), kBitmap24.end() - 20));
    // Outputs that cannot be written: "plain.schm/hill.schm" is read, but
    // its output "plain.schm/hill.bmp" is a folder; the second output of
    // "taken.bmp" is a folder, so the first must not land either.
    std::filesystem::create_directory(folder.file("plain.schm"));
    writeBytes(folder.file("plain.schm/hill.schm"), kSchm);
    std::filesystem::create_directory(folder.file("plain.schm/hill.bmp"));
    writeBytes(folder.file("taken.bmp"), kBitmap24);
    writeBytes(folder.file("taken.schm"), old);
    std::filesystem::create_directory(folder.file("taken.scmhm"));
    // The ".schm" output of this one is the longest name a folder entry may
    // have, its ".scmhm" one a character longer.
    const std::string longName = std::string(250, 'M') + ".bmp";
    writeBytes(folder.file(longName), kBitmap24);
    const std::vector<std::string> before = folder.names();

    const std::string dir = folder.path() + "/";
    const std::pair<std::string, DepthStatus> cases[] = {
        {"missing.schm", DepthStatus::CannotOpen},
        {"short.schm", DepthStatus::BadData},
        {"tiny.scmhm", DepthStatus::BadData},
        {"bad.txt", DepthStatus::BadHeader},
        {"broken.bmp", DepthStatus::BadData},
        {"plain.schm", DepthStatus::NotAFile},
        {"plain.schm/hill.schm", DepthStatus::CannotReplace},  // output "plain.schm/hill.bmp" is a folder
        {"taken.bmp", DepthStatus::CannotReplace},         // its ".scmhm" is a folder
        {longName, DepthStatus::CannotWrite},
    };
    for (const auto& [name, status] : cases) {
        const DepthOutcome converted = convertDepthFile((dir + name).c_str());
        EXPECT_EQ(converted.status, status) << name << ": " << converted.detail;
    }
    EXPECT_EQ(folder.names(), before);
    EXPECT_EQ(readBytes(folder.file("short.bmp")), old);
    EXPECT_EQ(readBytes(folder.file("taken.schm")), old);
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("plain.schm/hill.bmp")));
}

}  // namespace
