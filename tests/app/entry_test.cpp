// The program entry: the banner and runs of the real program (status 1
// without a video driver, a short headless demo run).

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/entry.hpp"

using namespace tolvane;

namespace {

namespace fs = std::filesystem;

const char kBanner[] =
    "Tolvane Engine Demo - By Harwick\n"
    "\n"
    "Keys:\n"
    "S - toggle SIRD mode\n"
    "R - toggle constant random frames\n"
    "C - turn on multi colours (looks bad in nonSIRD mode)\n"
    "G - turn to grey scale (turn on when not in SIRD mode to see depthmap\n"
    "P - pause time\n"
    "K - kapture screen shot (sorry 'C' was taken)\n"
    "I - switch between logo rendering styles\n"
    "Esc - exit\n"
    "LSize = 15\n";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the real program in its own empty working directory.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane_entry_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        work_ = root_ / "work";
        fs::create_directory(work_);
    }
    void TearDown() override { fs::remove_all(root_); }

    ProgramRun run(const std::string& environment, const std::string& arguments) {
        const std::string command = "cd '" + work_.string() + "' && env -u DISPLAY " + environment + " '" +
                                    TOLVANE_BINARY + "' " + arguments + " </dev/null >'" +
                                    (root_ / "out").string() + "' 2>'" + (root_ / "err").string() + "'";
        const int raw = std::system(command.c_str());
        ProgramRun result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = readFile(root_ / "out");
        result.err = readFile(root_ / "err");
        return result;
    }

    std::size_t filesInWork() const {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(work_)) {
            ++count;
        }
        return count;
    }

    fs::path root_;
    fs::path work_;
};

TEST(Entry, BannerIsTwelveExactLines) {
    std::ostringstream out;
    printBanner(out);
    EXPECT_EQ(out.str(), kBanner);
}

TEST(Entry, ScaleTooLargeForTheDesktopIsTold) {
    struct Case {
        int scale;
        DesktopSize desktop;
        const char* warning;
    };
    const Case cases[] = {
        {3, {1920, 1080}, "tolvane: warning: --scale 3 makes a 1920 x 1440 window, larger than the 1920 x 1080 "
                          "desktop; --scale 2 is the largest that fits"},
        {2, {1920, 1080}, ""},
        {4, {2560, 1920}, ""},  // exactly the desktop
        {2, {1280, 959}, "tolvane: warning: --scale 2 makes a 1280 x 960 window, larger than the 1280 x 959 "
                         "desktop; --scale 1 is the largest that fits"},
        {1, {600, 400}, "tolvane: warning: --scale 1 makes a 640 x 480 window, larger than the 600 x 400 desktop"},
        {0, {600, 400}, ""},   // no --scale: the program picks one that fits
        {8, {0, 0}, ""},       // desktop unknown
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windowScaleWarning(c.scale, c.desktop, 640, 480), c.warning) << c.scale;
    }
}

TEST_F(ProgramTest, NoVideoDriverExitsWithStatusOne) {
    const ProgramRun r = run("SDL_VIDEODRIVER=nonexistent_driver", "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Couldn't initialize SDL: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(r.out, "") << "the banner comes after the display opens";
}

TEST_F(ProgramTest, NoDisplayFailsAtOnceInsteadOfRunningUnseen) {
    // No X server and no driver chosen: SDL would fall back to one that
    // shows nothing. A driver chosen by name still runs (see the headless
    // demo below).
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun r = run("-u SDL_VIDEODRIVER -u WAYLAND_DISPLAY TOLVANE_EXIT_AFTER_FRAMES=3000", "");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Couldn't initialize SDL: no display found"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("set DISPLAY"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("SDL_VIDEODRIVER=dummy"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "no banner before the display opens";
    // Generous against a loaded machine; what matters is that it does not
    // sit there running frames nobody sees.
    EXPECT_LT(seconds, 10.0);
}

TEST_F(ProgramTest, CommandLineAnswersWithoutAScreen) {
    struct Case {
        const char* arguments;
        int status;
        const char* outStart;  // "" : nothing on stdout
        const char* err;  // the whole of it
    };
    const Case cases[] = {
        {"--help", 0, "Usage:\n", ""},
        {"-h --scale 2", 0, "Usage:\n", ""},
        {"--version", 0, "Tolvane 1.1.0\n", ""},
        {"--bogus", 2, "", "tolvane: unknown option --bogus\ntry tolvane --help\n"},
        {"--scale 0", 2, "", "tolvane: --scale needs a whole number from 1 to 8, not \"0\"\ntry tolvane --help\n"},
        {"--max-fps", 2, "", "tolvane: --max-fps needs a whole number from 1 to 1000\ntry tolvane --help\n"},
        {"--render out.gif", 2, "", "tolvane: --render needs an output file ending in .png or .bmp, not \"out.gif\"\n"
         "try tolvane --help\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = run("SDL_VIDEODRIVER=nonexistent_driver", c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments;
        EXPECT_EQ(r.out.rfind(c.outStart, 0), 0u) << c.arguments << ": " << r.out;
        if (c.outStart[0] == '\0') {
            EXPECT_EQ(r.out, "") << c.arguments;
        }
        EXPECT_EQ(r.err, c.err) << c.arguments;
        EXPECT_EQ(filesInWork(), 0u) << c.arguments;
    }
}

// What the program prints is part of its work: when standard output cannot
// take it, the run fails with the system's reason on standard error.
TEST_F(ProgramTest, StandardOutputThatCannotBeWrittenFails) {
    const char* const cases[] = {"--help", "--version", "not-a-depth-file", ""};
    for (const char* arguments : cases) {
        const std::string command = "cd '" + work_.string() +
                                    "' && env -u DISPLAY SDL_VIDEODRIVER=dummy TOLVANE_EXIT_AFTER_FRAMES=1 '" +
                                    TOLVANE_BINARY + "' " + arguments + " </dev/null >/dev/full 2>'" +
                                    (root_ / "err").string() + "'";
        const int raw = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2) << '"' << arguments << "\" status " << raw;
        const std::string err = readFile(root_ / "err");
        const std::string reason = "tolvane: cannot write to standard output: No space left on device\n";
        // Once, in the demo as soon as the banner failed.
        EXPECT_NE(err.find(reason), std::string::npos) << '"' << arguments << "\": " << err;
        EXPECT_EQ(err.find(reason), err.rfind(reason)) << '"' << arguments << "\": " << err;
    }
}

// Conversion runs of the real program are tested in
// tests/depth/convert_cli_test.cpp, one table for every outcome.

TEST_F(ProgramTest, HeadlessDemoPrintsTheBannerAndQuitsAfterTheFrameCount) {
    for (const char* arguments : {"", "a.txt b.txt"}) {
        const ProgramRun r = run("SDL_VIDEODRIVER=dummy TOLVANE_EXIT_AFTER_FRAMES=5", arguments);
        EXPECT_EQ(r.status, 0) << arguments << r.err;
        EXPECT_EQ(r.out, kBanner) << arguments;
        EXPECT_EQ(filesInWork(), 0u) << "two arguments run the demo, not a conversion";
    }
}

}  // namespace
