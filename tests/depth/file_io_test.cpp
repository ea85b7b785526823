#include "depth/file_io.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
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

// The kernel's rule for links in sticky folders anyone may write to (such
// as /tmp), applied by the writer that follows links itself: another
// user's link there is not followed, by root either; every other link is.
TEST(FileIoTest, OtherUsersLinksInStickyFoldersAreNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "links of another user are made with lchown, which needs root";
    constexpr uid_t kNobody = 65534;
    struct Case {
        const char* name;
        mode_t folderMode;
        uid_t linkOwner;
        uid_t folderOwner;
        bool followed;
    };
    const Case cases[] = {
        {"another user's link, sticky folder open to all", 01777, kNobody, 0, false},
        {"root's own link there", 01777, 0, 0, true},
        {"a link of the folder's owner", 01777, kNobody, kNobody, true},
        {"sticky but not open to all", 01775, kNobody, 0, true},
        {"open to all but not sticky", 0777, kNobody, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder victimFolder;
        const std::string victim = victimFolder.file("passwd");
        writeBytes(victim, kOld);
        ScratchFolder folder;
        const std::string link = folder.file("out.png");
        ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
        ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
        ASSERT_EQ(::chown(folder.path().c_str(), c.folderOwner, 0), 0);
        ASSERT_EQ(::chmod(folder.path().c_str(), c.folderMode), 0);
        const DepthOutcome written = writeFileSafely(link.c_str(), kNew);
        EXPECT_EQ(readBytes(victim), c.followed ? kNew : kOld);
        EXPECT_EQ(bool(written), c.followed) << written.detail;
        if (!c.followed) {
            EXPECT_EQ(written.status, DepthStatus::CannotReplace);
            EXPECT_EQ(written.detail, "cannot replace: it leads through another user's link in a sticky folder "
                                      "anyone may write to, which is not followed");
            // A dangling link of another user is not followed either.
            ASSERT_EQ(::unlink(victim.c_str()), 0);
            EXPECT_EQ(writeFileSafely(link.c_str(), kNew).status, DepthStatus::CannotReplace);
            EXPECT_FALSE(std::filesystem::exists(victim));
        }
        EXPECT_EQ(folder.names(), std::vector<std::string>{"out.png"});
    }
}

// In a sticky folder a file the caller may not rename over is refused when
// it is opened, before anything is written or renamed, so that a pair of
// outputs never stops at the second rename; root keeps out of another
// user's file only in a folder anyone may write to, as the kernel's
// protected-regular rule has it.
TEST(FileIoTest, OtherUsersFilesInStickyFoldersAreRefusedAtOpen) {
    if (::geteuid() != 0) GTEST_SKIP() << "files of another user are made with chown, which needs root";
    constexpr uid_t kNobody = 65534;
    const auto attempt = [](const std::string& name, bool asNobody) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (asNobody && ::setuid(kNobody) != 0) ::_exit(3);
            StagedFile staged;
            const DepthOutcome opened = staged.open(name.c_str());
            ::_exit(opened ? 0 : opened.detail == "cannot replace: it belongs to another user in a sticky folder" ? 1 : 2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ScratchFolder open;
    ASSERT_EQ(::chmod(open.path().c_str(), 01777), 0);
    const std::string rootsFile = open.file("root.bmp");
    const std::string nobodysFile = open.file("nobody.bmp");
    writeBytes(rootsFile, kOld);
    writeBytes(nobodysFile, kOld);
    ASSERT_EQ(::chmod(rootsFile.c_str(), 0666), 0);
    ASSERT_EQ(::chown(nobodysFile.c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(attempt(rootsFile, false), 0) << "root's own file";
    EXPECT_EQ(attempt(nobodysFile, false), 1) << "root, another user's file";
    EXPECT_EQ(attempt(nobodysFile, true), 0) << "nobody's own file";
    EXPECT_EQ(attempt(rootsFile, true), 1) << "nobody, the folder owner's file, writable by all";
    ScratchFolder sticky;
    ASSERT_EQ(::chmod(sticky.path().c_str(), 01755), 0);
    writeBytes(sticky.file("nobody.bmp"), kOld);
    ASSERT_EQ(::chown(sticky.file("nobody.bmp").c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(attempt(sticky.file("nobody.bmp"), false), 0) << "root, sticky folder closed to others";
}

// Root replacing a user's file leaves it the user's, with its mode.
TEST(FileIoTest, ReplacedFilesKeepTheirOwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    ScratchFolder folder;
    const std::string name = folder.file("theirs.schm");
    writeBytes(name, kOld);
    ASSERT_EQ(::chown(name.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    ASSERT_TRUE(writeFileSafely(name.c_str(), kNew));
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(readBytes(name), kNew);
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
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
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

// A write over the size limit fails with the system's reason even where
// SIGXFSZ would kill the process: no temporary is left behind.
TEST(FileIoTest, SizeLimitFailsTheWriteInsteadOfKilling) {
    ScratchFolder folder;
    const std::string name = folder.file("out.schm");
    writeBytes(name, kOld);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 5;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const DepthOutcome written = writeFileSafely(name.c_str(), kNew);
        ::_exit(!written && written.detail == "cannot write: File too large" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(readBytes(name), kOld);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.schm"});
}

// A signal between the renames of a pair waits for the last: both files
// are new, never one.
TEST(FileIoTest, HeldInterruptsWaitForTheWholePair) {
    ScratchFolder folder;
    const std::string first = folder.file("a.schm");
    const std::string second = folder.file("a.scmhm");
    writeBytes(first, kOld);
    writeBytes(second, kOld);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        StagedFile one;
        StagedFile two;
        if (!one.stage(first.c_str(), kNew) || !two.stage(second.c_str(), kNew)) ::_exit(3);
        {
            const InterruptsHeld held;
            if (!one.commit()) ::_exit(4);
            ::raise(SIGTERM);
            if (!two.commit()) ::_exit(5);
        }
        ::_exit(6);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "child status " << status;
    EXPECT_EQ(readBytes(first), kNew);
    EXPECT_EQ(readBytes(second), kNew);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"a.schm", "a.scmhm"}));
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

    // A render on every core of a large machine holds a temporary per job.
    std::vector<StagedFile> many(kMaxStagedFiles);
    for (std::size_t i = 0; i < many.size(); ++i) {
        const std::string each = folder.file(std::to_string(i).append(".schm"));
        ASSERT_TRUE(many[i].stage(each.c_str(), kNew)) << i;
    }
    for (StagedFile& file : many) EXPECT_TRUE(file.commit());
}

}  // namespace
