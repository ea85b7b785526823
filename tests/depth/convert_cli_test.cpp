// The conversion mode as a user meets it: the real program, one argument,
// no display of any kind.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include "depth/bitmap_file.hpp"
#include "depth_file_fixtures.hpp"

namespace {

const Bytes kSchm = {3, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0x21, 0x02, 0x43};

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Runs the program in `folder` with one argument and no display: neither
// an X server nor SDL's dummy driver is there to fall back on. Its output
// is caught in a folder of its own, so `folder` shows only what it wrote.
ProgramRun runProgram(const ScratchFolder& folder, const std::string& argument) {
    const ScratchFolder capture;
    const std::string command = "cd '" + folder.path() +
                                "' && env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY '" +
                                TOLVANE_BINARY + "' '" + argument + "' </dev/null >'" +
                                capture.file("out") + "' 2>'" + capture.file("err") + "'";
    ProgramRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = text(readBytes(capture.file("out")));
    run.err = text(readBytes(capture.file("err")));
    return run;
}

TEST(ConvertCliTest, ConvertsSilentlyWithoutADisplay) {
    ScratchFolder folder;
    writeBytes(folder.file("hill.schm"), kSchm);
    const ProgramRun run = runProgram(folder, "hill.schm");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const DepthMapPtr map = loadBitmapDepthMap(folder.file("hill.bmp").c_str());
    ASSERT_TRUE(map);
    EXPECT_EQ(pixelsOf(*map), (Bytes{1, 1, 2, 3, 3, 3}));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"hill.bmp", "hill.schm"}));
}

TEST(ConvertCliTest, BitmapGivesBothCompressedForms) {
    ScratchFolder folder;
    writeBytes(folder.file("hill.schm"), kSchm);
    ASSERT_EQ(runProgram(folder, "hill.schm").status, 0);
    std::filesystem::remove(folder.file("hill.schm"));
    const ProgramRun run = runProgram(folder, "hill.bmp");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(readBytes(folder.file("hill.schm")), kSchm);
    EXPECT_EQ(readBytes(folder.file("hill.scmhm")),
              (Bytes{3, 0, 0, 0, 2, 0, 0, 0, 0x21, 0x02, 0x43, 0x00, 0x00}));
}

TEST(ConvertCliTest, UnknownExtensionSaysDone) {
    ScratchFolder folder;
    writeBytes(folder.file("HILL.BMP"), kSchm);
    const ProgramRun run = runProgram(folder, "HILL.BMP");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Done\n");
    EXPECT_NE(run.err.find("HILL.BMP"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.back(), '\n');
    EXPECT_EQ(folder.names(), std::vector<std::string>{"HILL.BMP"});
}

TEST(ConvertCliTest, FailuresExitTwoWithOneLineNamingTheFile) {
    ScratchFolder folder;
    writeBytes(folder.file("short.schm"), Bytes(kSchm.begin(), kSchm.begin() + 10));
    writeBytes(folder.file("short.bmp"), {'o', 'l', 'd'});
    const std::pair<const char*, const char*> cases[] = {
        {"missing.txt", "missing.txt: cannot open: No such file or directory\n"},
        {"short.schm", "short.schm: file is shorter than its header\n"},
    };
    for (const auto& [name, message] : cases) {
        const ProgramRun run = runProgram(folder, name);
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_EQ(run.out, "") << name;
        EXPECT_EQ(run.err, message);
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"short.bmp", "short.schm"}));
    EXPECT_EQ(readBytes(folder.file("short.bmp")), (Bytes{'o', 'l', 'd'}));
}

}  // namespace
