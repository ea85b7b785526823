// The conversion mode as a user meets it: the real program, one argument,
// no display of any kind; its exit status, its two streams and the files
// it leaves.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "depth_file_fixtures.hpp"
#include "png_fixtures.hpp"

using namespace tolvane;

namespace {

const Bytes kSchm = {3, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0x21, 0x02, 0x43};
const Bytes kScmhm = {3, 0, 0, 0, 2, 0, 0, 0, 0x21, 0x02, 0x43, 0x00, 0x00};
// The fixtures' 3 x 2 bitmap (depths 2 3 31 / 31 0 1) in both forms.
const Bytes kBitmapSchm = {3, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0x02, 0x03, 0x3F, 0x00, 0x01};
const Bytes kBitmapScmhm = {3, 0, 0, 0, 2, 0, 0, 0, 0x02, 0x03, 0x3F, 0x00, 0x00,
                            0x01, 0x00, 0x00, 0x00, 0x00};
const std::string kNothing =
    ": nothing converted: the file's own name (after any folder) contains none of \".bmp\", \".png\", \".schm\", \".scmhm\", \".txt\"\n";

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// A 2 x 1 bitmap of 8 bits a pixel, indices 0 and 1, whose palette is red
// and white: depths 0 and 0, by the index.
const Bytes kRedWhite8 = {
    'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,
    40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0, 4, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 255, 0, 255, 255, 255, 0,
    0, 1, 0, 0,
};
// A 2 x 1 24-bit bitmap, both pixels grey 64: depth 8 throughout.
const Bytes kFlat24 = {
    'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
    40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    64, 64, 64, 64, 64, 64, 0, 0,
};

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Every regular file below `folder`, as paths relative to it, sorted.
std::vector<std::string> regularFilesBelow(const ScratchFolder& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path())) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            found.push_back(entry.path().string().substr(folder.path().size() + 1));
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Runs the program in `folder` with one argument and no display: neither
// an X server nor SDL's dummy driver is there to fall back on. Its output
// is caught in a folder of its own, so `folder` shows only what it wrote.
// `shellPrefix` runs first in the same shell (a ulimit, say).
ProgramRun runProgram(const ScratchFolder& folder, const std::string& argument,
                      const std::string& shellPrefix = "") {
    const ScratchFolder capture;
    const std::string command = "cd '" + folder.path() + "' && " + shellPrefix +
                                " env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY '" +
                                TOLVANE_BINARY + "' '" + argument + "' </dev/null >'" +
                                capture.file("out") + "' 2>'" + capture.file("err") + "'";
    ProgramRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = text(readBytes(capture.file("out")));
    run.err = text(readBytes(capture.file("err")));
    return run;
}

struct CliCase {
    const char* name;
    std::function<void(const ScratchFolder&)> setUp;
    std::string argument;
    int status;
    std::string out;
    std::string err;
    std::vector<std::pair<std::string, Bytes>> files;  // every file below the folder afterwards, exactly
    std::string shellPrefix = "";
};

void checkCases(const std::vector<CliCase>& cases) {
    for (const CliCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        c.setUp(folder);
        const ProgramRun run = runProgram(folder, c.argument, c.shellPrefix);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        std::vector<std::string> names;
        for (const auto& [name, bytes] : c.files) {
            names.push_back(name);
            EXPECT_EQ(readBytes(folder.file(name)), bytes) << name;
        }
        // Regular files only: the folders, pipes and links a case made stay
        // as made.
        std::sort(names.begin(), names.end());
        EXPECT_EQ(regularFilesBelow(folder), names);
    }
}

const auto linkAs = [](const char* to, const char* name) {
    return [=](const ScratchFolder& folder) { ASSERT_EQ(::symlink(to, folder.file(name).c_str()), 0); };
};

TEST(ConvertCliTest, StatusStreamsAndFiles) {
    const auto put = [](const char* name, const Bytes& bytes) {
        return [=](const ScratchFolder& folder) { writeBytes(folder.file(name), bytes); };
    };
    const Bytes kText = {'3', ' ', '2', '\n', '1', ' ', '0', '\n', 'A', 'U', '9', '\n'};
    const Bytes kTextSchm = {3, 0, 0, 0, 2, 0, 0, 0, 6, 0, 0, 0, 0x01, 0x00, 0x0A, 0x0B, 0x1F, 0x09};
    const Bytes kOld = {'o', 'l', 'd'};
    // The fixture bitmap's depths as an 8-bit grey PNG: the same outputs.
    const Bytes kPng = png_fixture::greyAs({"grey", PNG_COLOR_TYPE_GRAY, 8}, 3, 2, {16, 24, 255, 248, 0, 8});
    const Bytes kCutPng(kPng.begin(), kPng.end() - 16);
    // 100 x 100 at depth 0: its bitmap is 30054 bytes.
    const Bytes kLargeSchm = [] {
        Bytes bytes = {100, 0, 0, 0, 100, 0, 0, 0, 0xE2, 0x04, 0, 0};
        bytes.insert(bytes.end(), 1250, 0xE0);
        return bytes;
    }();
    const Bytes kEmptySchm = {0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
    checkCases({
        {"PNG to both compressed forms", put("hill.png", kPng), "hill.png", 0, "", "",
         {{"hill.png", kPng}, {"hill.schm", kBitmapSchm}, {"hill.scmhm", kBitmapScmhm}}},
        {"PNG cut short", put("cut.png", kCutPng), "cut.png", 2, "", "cut.png: cannot decode PNG: the file ends early\n",
         {{"cut.png", kCutPng}}},
        {"bitmap to both compressed forms", put("hill.bmp", kBitmap24), "hill.bmp", 0, "", "",
         {{"hill.bmp", kBitmap24}, {"hill.schm", kBitmapSchm}, {"hill.scmhm", kBitmapScmhm}}},
        {"text to schm only", put("hill.txt", kText), "hill.txt", 0, "", "",
         {{"hill.schm", kTextSchm}, {"hill.txt", kText}}},
        {"unknown extension", put("HILL.BMP", kSchm), "HILL.BMP", 0, "Done\n", "HILL.BMP" + kNothing,
         {{"HILL.BMP", kSchm}}},
        {"empty argument", [](const ScratchFolder&) {}, "", 0, "Done\n", kNothing, {}},
        {"missing input", [](const ScratchFolder&) {}, "missing.txt", 2, "",
         "missing.txt: cannot open: No such file or directory\n", {}},
        {"short header", put("short.schm", Bytes(kSchm.begin(), kSchm.begin() + 10)), "short.schm", 2, "",
         "short.schm: file is shorter than its header\n", {{"short.schm", Bytes(kSchm.begin(), kSchm.begin() + 10)}}},
        {"device input refused before reading",
         [](const ScratchFolder& folder) { ASSERT_EQ(::symlink("/dev/zero", folder.file("z.bmp").c_str()), 0); },
         "z.bmp", 2, "", "z.bmp: cannot read: it is a character device, not a file\n", {}},
        {"output is a pipe",
         [&](const ScratchFolder& folder) {
             writeBytes(folder.file("hill.scmhm"), kScmhm);
             ASSERT_EQ(::mkfifo(folder.file("hill.bmp").c_str(), 0600), 0);
         },
         "hill.scmhm", 2, "", "hill.bmp: cannot replace: it is a named pipe, not a regular file\n",
         {{"hill.scmhm", kScmhm}}},
        {"outputs beside the input, whatever its folder is called",
         [&](const ScratchFolder& folder) {
             std::filesystem::create_directory(folder.file("v1.bmp-exports"));
             writeBytes(folder.file("v1.bmp-exports/hill.bmp"), kBitmap24);
         },
         "v1.bmp-exports/hill.bmp", 0, "", "",
         {{"v1.bmp-exports/hill.bmp", kBitmap24}, {"v1.bmp-exports/hill.schm", kBitmapSchm},
          {"v1.bmp-exports/hill.scmhm", kBitmapScmhm}}},
        {"control characters in the name are escaped", [](const ScratchFolder&) {}, "no\x1b[2J\n.txt", 2, "",
         "no\\x1b[2J\\n.txt: cannot open: No such file or directory\n", {}},
        {"warning: palette not grey in index order", put("red.bmp", kRedWhite8), "red.bmp", 0, "",
         "red.bmp: warning: its palette is not grey in index order, so its depths are palette indices >> 3, "
         "not brightness; save it as a 24-bit bitmap (ImageMagick: -type TrueColor BMP3:hill.bmp, see README, "
         "\"Any picture as a depth image\")\n",
         {{"red.bmp", kRedWhite8},
          {"red.schm", {2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x20}},
          {"red.scmhm", {2, 0, 0, 0, 1, 0, 0, 0, 0x20, 0, 0, 0, 0}}}},
        {"warning: flat picture", put("flat.bmp", kFlat24), "flat.bmp", 0, "",
         "flat.bmp: warning: every pixel has depth 8, so the picture is flat (the depth is the blue byte >> 3, "
         "or the palette index); save a grey picture as a 24-bit bitmap (see README, \"Any picture as a depth "
         "image\")\n",
         {{"flat.bmp", kFlat24},
          {"flat.schm", {2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x28}},
          {"flat.scmhm", {2, 0, 0, 0, 1, 0, 0, 0, 0x28, 0, 0, 0, 0}}}},
        // The header split over two lines: row 2 is the file's line 4.
        {"warning: characters outside the table", put("odd.txt", {'3', '\n', '2', '\n', '1', '2', '3', '\n', 'A', 'a', '\t', '!', '\n'}),
         "odd.txt", 0, "",
         "odd.txt: warning: 2 characters outside the depth table, the first \"a\" at row 2, column 2 (line 4 of the file); only "
         "space, 1-9, 0 (for 10) and A-U give the depths 0-31\n",
         {{"odd.txt", {'3', '\n', '2', '\n', '1', '2', '3', '\n', 'A', 'a', '\t', '!', '\n'}},
          {"odd.schm", {3, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0x01, 0x02, 0x03, 0x0B, 0x3F}}}},
        {"second output refused, first kept",
         [&](const ScratchFolder& folder) {
             writeBytes(folder.file("hill.bmp"), kBitmap24);
             writeBytes(folder.file("hill.schm"), kOld);
             ASSERT_EQ(::mkdir(folder.file("hill.scmhm").c_str(), 0700), 0);
         },
         "hill.bmp", 2, "", "hill.scmhm: cannot replace: it is a directory, not a regular file\n",
         {{"hill.bmp", kBitmap24}, {"hill.schm", kOld}}},
        // Through links an output can be the input or the other output.
        {"output linked to the input",
         [&](const ScratchFolder& folder) {
             put("a.txt", kText)(folder);
             linkAs("a.txt", "a.schm")(folder);
         },
         "a.txt", 2, "", "a.schm: cannot replace: it is the input file a.txt\n", {{"a.txt", kText}}},
        {"second output linked to the first",
         [&](const ScratchFolder& folder) {
             put("c.bmp", kBitmap24)(folder);
             put("c.schm", kOld)(folder);
             linkAs("c.schm", "c.scmhm")(folder);
         },
         "c.bmp", 2, "", "c.scmhm: cannot replace: it is the same file as the output c.schm\n",
         {{"c.bmp", kBitmap24}, {"c.schm", kOld}}},
        {"second output linked to the first, yet to be made",
         [&](const ScratchFolder& folder) {
             put("c.bmp", kBitmap24)(folder);
             linkAs("c.schm", "c.scmhm")(folder);
         },
         "c.bmp", 2, "", "c.scmhm: cannot replace: it is the same file as the output c.schm\n", {{"c.bmp", kBitmap24}}},
        // A bitmap of headers alone would not read back.
        {"empty map to bitmap refused", put("e.schm", kEmptySchm), "e.schm", 2, "",
         "e.bmp: map is 0 x 5; a bitmap needs at least one pixel each way\n", {{"e.schm", kEmptySchm}}},
        {"over the file size limit: the system's reason, no temporary", put("big.schm", kLargeSchm), "big.schm", 2,
         "", "big.bmp: cannot write: File too large\n", {{"big.schm", kLargeSchm}}, "ulimit -f 4 &&"},
    });
}

// Another user's link or file in a sticky folder anyone may write to: the
// conversion refuses before it replaces anything, also the first of a pair.
TEST(ConvertCliTest, OtherUsersLinksAndFilesInStickyFolders) {
    if (::geteuid() != 0) GTEST_SKIP() << "files and links of another user are made with chown, which needs root";
    const Bytes kOld = {'o', 'l', 'd'};
    const auto sticky = [](const ScratchFolder& folder) { ASSERT_EQ(::chmod(folder.path().c_str(), 01777), 0); };
    const auto give = [](const ScratchFolder& folder, const char* name) {
        ASSERT_EQ(::lchown(folder.file(name).c_str(), 65534, 65534), 0);
    };
    checkCases({
        {"another user's link is not followed",
         [&](const ScratchFolder& folder) {
             sticky(folder);
             writeBytes(folder.file("hill.scmhm"), kScmhm);
             std::filesystem::create_directory(folder.file("etc"));
             writeBytes(folder.file("etc/shadow"), kOld);
             linkAs("etc/shadow", "hill.bmp")(folder);
             give(folder, "hill.bmp");
         },
         "hill.scmhm", 2, "",
         "hill.bmp: cannot replace: it leads through another user's link in a sticky folder anyone may write "
         "to, which is not followed\n",
         {{"etc/shadow", kOld}, {"hill.scmhm", kScmhm}}},
        {"another user's second output: the first is not replaced either",
         [&](const ScratchFolder& folder) {
             sticky(folder);
             writeBytes(folder.file("hill.bmp"), kBitmap24);
             writeBytes(folder.file("hill.schm"), kOld);
             writeBytes(folder.file("hill.scmhm"), kOld);
             give(folder, "hill.scmhm");
         },
         "hill.bmp", 2, "", "hill.scmhm: cannot replace: it belongs to another user in a sticky folder\n",
         {{"hill.bmp", kBitmap24}, {"hill.schm", kOld}, {"hill.scmhm", kOld}}},
    });
}

TEST(ConvertCliTest, OutOfMemoryIsOneLineAndStatusTwo) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    // A legal 16384 x 16384 map in 10 MiB of ".scmhm": its 256 MiB of
    // pixels do not fit under the limit.
    ScratchFolder folder;
    Bytes file = {0, 0x40, 0, 0, 0, 0x40, 0, 0};
    for (int group = 0; group < (1 << 28) / 128; ++group) file.insert(file.end(), {0xE0, 0xE0, 0xE0, 0xE0, 0xFF});
    writeBytes(folder.file("big.scmhm"), file);
    file.clear();
    const ProgramRun run = runProgram(folder, "big.scmhm", "ulimit -v 200000 &&");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "big.scmhm: not enough memory for a 16384 x 16384 map\n");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"big.scmhm"});
#endif
}

}  // namespace
