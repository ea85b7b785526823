// The conversion mode as a user meets it: the real program, one argument,
// no display of any kind; its exit status, its two streams and the files
// it leaves.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "depth_file_fixtures.hpp"

using namespace tolvane;

namespace {

const Bytes kSchm = {3, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0x21, 0x02, 0x43};
const Bytes kScmhm = {3, 0, 0, 0, 2, 0, 0, 0, 0x21, 0x02, 0x43, 0x00, 0x00};
// The fixtures' 3 x 2 bitmap (depths 2 3 31 / 31 0 1) in both forms.
const Bytes kBitmapSchm = {3, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0x02, 0x03, 0x3F, 0x00, 0x01};
const Bytes kBitmapScmhm = {3, 0, 0, 0, 2, 0, 0, 0, 0x02, 0x03, 0x3F, 0x00, 0x00,
                            0x01, 0x00, 0x00, 0x00, 0x00};
const std::string kNothing =
    ": nothing converted: the name contains none of \".bmp\", \".schm\", \".scmhm\", \".txt\"\n";

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

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
    std::vector<std::pair<std::string, Bytes>> files;  // every file in the folder afterwards, exactly
};

TEST(ConvertCliTest, StatusStreamsAndFiles) {
    const auto put = [](const char* name, const Bytes& bytes) {
        return [=](const ScratchFolder& folder) { writeBytes(folder.file(name), bytes); };
    };
    const Bytes kText = {'3', ' ', '2', '\n', '1', ' ', '0', '\n', 'A', 'U', '9', '\n'};
    const Bytes kTextSchm = {3, 0, 0, 0, 2, 0, 0, 0, 6, 0, 0, 0, 0x01, 0x00, 0x0A, 0x0B, 0x1F, 0x09};
    const Bytes kOld = {'o', 'l', 'd'};
    const CliCase cases[] = {
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
        {"second output refused, first kept",
         [&](const ScratchFolder& folder) {
             writeBytes(folder.file("hill.bmp"), kBitmap24);
             writeBytes(folder.file("hill.schm"), kOld);
             ASSERT_EQ(::mkdir(folder.file("hill.scmhm").c_str(), 0700), 0);
         },
         "hill.bmp", 2, "", "hill.scmhm: cannot replace: it is a directory, not a regular file\n",
         {{"hill.bmp", kBitmap24}, {"hill.schm", kOld}}},
    };
    for (const CliCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        c.setUp(folder);
        const ProgramRun run = runProgram(folder, c.argument);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        std::vector<std::string> names;
        for (const auto& [name, bytes] : c.files) {
            names.push_back(name);
            EXPECT_EQ(readBytes(folder.file(name)), bytes) << name;
        }
        // Regular files only: the folders and pipes a case made stay as made.
        std::vector<std::string> left = folder.names();
        std::erase_if(left, [&](const std::string& name) {
            return !std::filesystem::is_regular_file(std::filesystem::symlink_status(folder.file(name)));
        });
        EXPECT_EQ(left, names);
    }
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
