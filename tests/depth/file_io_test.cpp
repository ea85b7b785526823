#include "depth/file_io.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "depth_file_fixtures.hpp"

using namespace tolvane;

namespace {

const Bytes kOld = {'o', 'l', 'd'};
const Bytes kNew = {'n', 'e', 'w', ' ', 'b', 'y', 't', 'e', 's', 0, 0xFF};

TEST(FileIoTest, WritesExactBytesAndReplacesTheTarget) {
    ScratchFolder folder;
    const std::string name = folder.file("out.schm");
    writeBytes(name, kOld);
    ASSERT_TRUE(writeFileSafely(name.c_str(), kNew));
    EXPECT_EQ(readBytes(name), kNew);
    ASSERT_TRUE(writeFileSafely(name.c_str(), Bytes{}));
    EXPECT_EQ(readBytes(name), Bytes{});
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.schm"});
}

TEST(FileIoTest, NewFilesGetTheUsualPermissions) {
    ScratchFolder folder;
    const mode_t saved = ::umask(022);
    const bool written = bool(writeFileSafely(folder.file("out.bmp").c_str(), kNew));
    ::umask(saved);
    ASSERT_TRUE(written);
    struct stat info {};
    ASSERT_EQ(::stat(folder.file("out.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(FileIoTest, ReplacesAsIfRewrittenInPlace) {
    ScratchFolder folder;
    // The longest name a folder entry may have can still be replaced.
    const std::string longest = std::string(250, 'n') + ".schm";
    ASSERT_TRUE(writeFileSafely(folder.file(longest).c_str(), kOld));
    const DepthOutcome written = writeFileSafely(folder.file(longest).c_str(), kNew);
    ASSERT_TRUE(written) << written.detail;
    EXPECT_EQ(readBytes(folder.file(longest)), kNew);

    // A private file stays private.
    writeBytes(folder.file("private.bmp"), kOld);
    ASSERT_EQ(::chmod(folder.file("private.bmp").c_str(), 0600), 0);
    ASSERT_TRUE(writeFileSafely(folder.file("private.bmp").c_str(), kNew));
    struct stat info {};
    ASSERT_EQ(::stat(folder.file("private.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    EXPECT_EQ(folder.names(), (std::vector<std::string>{longest, "private.bmp"}));
}

TEST(FileIoTest, ReadOnlyFilesAreNotReplaced) {
    ScratchFolder folder;
    const std::string name = folder.file("kept.schm");
    writeBytes(name, kOld);
    ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
    // Root may write anything: the refusal is checked as an ordinary user,
    // in a child, with a folder anyone may write to.
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(3);
        const DepthOutcome written = writeFileSafely(name.c_str(), kNew);
        ::_exit(written ? 1 : written.status == DepthStatus::CannotReplace ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(readBytes(name), kOld);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"kept.schm"});
}

// What each kind of target becomes when written: only regular files are
// replaced, links are followed, everything else is refused untouched.
struct TargetCase {
    const char* name;
    std::function<void(const ScratchFolder&)> setUp;  // makes "out.bmp" and what it needs
    DepthStatus status;
    const char* written;  // the entry that holds the new bytes afterwards, or null
};

void makeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

void checkTargets(const std::vector<TargetCase>& cases) {
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        c.setUp(folder);
        const std::vector<std::string> before = folder.names();
        const DepthOutcome written = writeFileSafely(folder.file("out.bmp").c_str(), kNew);
        EXPECT_EQ(written.status, c.status) << written.detail;
        if (c.written != nullptr) {
            EXPECT_EQ(readBytes(folder.file(c.written)), kNew);
        } else {
            EXPECT_EQ(folder.names(), before);
        }
    }
}

TEST(FileIoTest, OnlyRegularFilesAreReplaced) {
    const auto link = [](const char* to) {
        return [to](const ScratchFolder& folder) { ASSERT_EQ(::symlink(to, folder.file("out.bmp").c_str()), 0); };
    };
    const auto linkTo = [](const char* name, std::function<void(const std::string&)> make) {
        return [name, make](const ScratchFolder& folder) {
            make(folder.file(name));
            ASSERT_EQ(::symlink(name, folder.file("out.bmp").c_str()), 0);
        };
    };
    const auto fifo = [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); };
    const auto file = [](const std::string& path) { writeBytes(path, kOld); };
    const auto folderAt = [](const std::string& path) { std::filesystem::create_directory(path); };
    checkTargets({
        {"missing", [](const ScratchFolder&) {}, DepthStatus::Ok, "out.bmp"},
        {"regular", [&](const ScratchFolder& f) { file(f.file("out.bmp")); }, DepthStatus::Ok, "out.bmp"},
        {"link to a file", linkTo("real.bmp", file), DepthStatus::Ok, "real.bmp"},
        {"link to a link", [&](const ScratchFolder& f) {
             file(f.file("real.bmp"));
             ASSERT_EQ(::symlink("real.bmp", f.file("middle").c_str()), 0);
             ASSERT_EQ(::symlink("middle", f.file("out.bmp").c_str()), 0);
         }, DepthStatus::Ok, "real.bmp"},
        {"dangling link", link("named.bmp"), DepthStatus::Ok, "named.bmp"},
        {"link into a missing folder", link("none/named.bmp"), DepthStatus::CannotWrite, nullptr},
        {"link loop", link("out.bmp"), DepthStatus::CannotWrite, nullptr},
        {"fifo", [&](const ScratchFolder& f) { fifo(f.file("out.bmp")); }, DepthStatus::CannotReplace, nullptr},
        {"link to a fifo", linkTo("pipe", fifo), DepthStatus::CannotReplace, nullptr},
        {"socket", [](const ScratchFolder& f) { makeSocket(f.file("out.bmp")); }, DepthStatus::CannotReplace, nullptr},
        {"directory", [&](const ScratchFolder& f) { folderAt(f.file("out.bmp")); }, DepthStatus::CannotReplace, nullptr},
        {"link to a directory", linkTo("dir", folderAt), DepthStatus::CannotReplace, nullptr},
    });
    if (::geteuid() == 0) return;  // root's case is below: /dev/null must never be the target
    checkTargets({{"link to /dev/null", link("/dev/null"), DepthStatus::CannotReplace, nullptr}});
}

TEST(FileIoTest, DeviceNodesAreNeverReplaced) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    // A node of the null device's numbers, made here rather than /dev/null
    // itself, so that a failure cannot damage the system.
    const auto device = [](const std::string& path) {
        ASSERT_EQ(::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    };
    checkTargets({
        {"device", [&](const ScratchFolder& f) { device(f.file("out.bmp")); }, DepthStatus::CannotReplace, nullptr},
        {"link to a device", [&](const ScratchFolder& f) {
             device(f.file("null"));
             ASSERT_EQ(::symlink("null", f.file("out.bmp").c_str()), 0);
         }, DepthStatus::CannotReplace, nullptr},
    });
}

TEST(FileIoTest, FailedWritesLeaveTheEarlierFileAndNoTemporary) {
    ScratchFolder folder;
    const std::string name = folder.file("out.schm");
    writeBytes(name, kOld);
    writeBytes(folder.file("plain"), kOld);
    const std::vector<std::string> before = folder.names();

    const std::pair<const char*, std::string> cases[] = {
        {"missing folder", folder.file("none/out.schm")},
        {"folder is a file", folder.file("plain/out.schm")},
        {"under /proc", "/proc/self/out.schm"},
        {"name too long", folder.file(std::string(256, 'n'))},
        {"no name", ""},
    };
    for (const auto& [label, target] : cases) {
        EXPECT_EQ(writeFileSafely(target.c_str(), kNew).status, DepthStatus::CannotWrite) << label;
    }
    {
        const FileSizeLimit limit(5);
        EXPECT_EQ(writeFileSafely(name.c_str(), kNew).status, DepthStatus::CannotWrite);
    }
    EXPECT_EQ(readBytes(name), kOld);
    EXPECT_EQ(folder.names(), before);
}

TEST(FileIoTest, InterruptsRemoveTheTemporaryAndKeepTheOldFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ScratchFolder folder;
        const std::string name = folder.file("out.scmhm");
        writeBytes(name, kOld);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            StagedFile staged;
            if (!staged.open(name.c_str()) || !staged.write(kNew)) ::_exit(3);
            ::raise(signal);
            ::_exit(4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << "signal " << signal;
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(readBytes(name), kOld);
        EXPECT_EQ(folder.names(), std::vector<std::string>{"out.scmhm"});
    }
}

TEST(FileIoTest, StagedFilesOnlyReplaceOnCommit) {
    ScratchFolder folder;
    const std::string name = folder.file("out.scmhm");
    writeBytes(name, kOld);
    {
        StagedFile staged;
        ASSERT_TRUE(staged.stage(name.c_str(), kNew));
        EXPECT_EQ(folder.names().size(), 2u);  // the target and its temporary
        EXPECT_EQ(readBytes(name), kOld);
    }
    EXPECT_EQ(readBytes(name), kOld);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.scmhm"});

    StagedFile staged;
    ASSERT_TRUE(staged.stage(name.c_str(), kNew));
    StagedFile moved = std::move(staged);
    EXPECT_FALSE(staged.commit());
    EXPECT_TRUE(moved.commit());
    EXPECT_EQ(readBytes(name), kNew);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.scmhm"});
}

}  // namespace
