#include "depth/file_io.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "depth_file_fixtures.hpp"

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
    const bool written = writeFileSafely(folder.file("out.bmp").c_str(), kNew);
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
    std::string why;
    ASSERT_TRUE(writeFileSafely(folder.file(longest).c_str(), kNew, &why)) << why;
    EXPECT_EQ(readBytes(folder.file(longest)), kNew);

    // A private file stays private.
    writeBytes(folder.file("private.bmp"), kOld);
    ASSERT_EQ(::chmod(folder.file("private.bmp").c_str(), 0600), 0);
    ASSERT_TRUE(writeFileSafely(folder.file("private.bmp").c_str(), kNew));
    struct stat info {};
    ASSERT_EQ(::stat(folder.file("private.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Through a link, the file it names is written and the link stays.
    ASSERT_EQ(::symlink("private.bmp", folder.file("link.bmp").c_str()), 0);
    ASSERT_TRUE(writeFileSafely(folder.file("link.bmp").c_str(), kOld));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.bmp")));
    EXPECT_EQ(readBytes(folder.file("private.bmp")), kOld);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"link.bmp", longest, "private.bmp"}));
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
        std::string why;
        const bool written = writeFileSafely(name.c_str(), kNew, &why);
        ::_exit(written ? 1 : why == "cannot replace: Permission denied" ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(readBytes(name), kOld);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"kept.schm"});
}

TEST(FileIoTest, FailedWritesLeaveTheEarlierFileAndNoTemporary) {
    ScratchFolder folder;
    const std::string name = folder.file("out.schm");
    writeBytes(name, kOld);
    writeBytes(folder.file("plain"), kOld);
    std::filesystem::create_directory(folder.file("taken.bmp"));
    const std::vector<std::string> before = folder.names();

    struct Case {
        const char* name;
        std::string target;
        const char* reason;
    };
    const Case cases[] = {
        {"missing folder", folder.file("none/out.schm"), "cannot create a temporary file beside it: No such file or directory"},
        {"folder is a file", folder.file("plain/out.schm"), "cannot create a temporary file beside it: Not a directory"},
        {"target is a folder", folder.file("taken.bmp"), "cannot replace: Is a directory"},
        {"under /proc", "/proc/self/out.schm", "cannot create a temporary file beside it"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(writeFileSafely(c.target.c_str(), kNew, &why)) << c.name;
        EXPECT_EQ(why.rfind(c.reason, 0), 0u) << c.name << ": " << why;
    }
    {
        const FileSizeLimit limit(5);
        std::string why;
        EXPECT_FALSE(writeFileSafely(name.c_str(), kNew, &why));
        EXPECT_EQ(why, "cannot write: File too large");
    }
    EXPECT_EQ(readBytes(name), kOld);
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("taken.bmp")));
    EXPECT_EQ(folder.names(), before);
}

TEST(FileIoTest, StagedFilesOnlyReplaceOnCommit) {
    ScratchFolder folder;
    const std::string name = folder.file("out.scmhm");
    writeBytes(name, kOld);
    {
        StagedFile staged;
        ASSERT_TRUE(staged.stage(name.c_str(), kNew, nullptr));
        EXPECT_EQ(folder.names().size(), 2u);  // the target and its temporary
        EXPECT_EQ(readBytes(name), kOld);
    }
    EXPECT_EQ(readBytes(name), kOld);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.scmhm"});

    StagedFile staged;
    ASSERT_TRUE(staged.stage(name.c_str(), kNew, nullptr));
    StagedFile moved = std::move(staged);
    std::string why;
    EXPECT_FALSE(staged.commit(&why));
    EXPECT_TRUE(moved.commit(&why)) << why;
    EXPECT_EQ(readBytes(name), kNew);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"out.scmhm"});
}

TEST(FileIoTest, ReadsWholeFilesUpToTheCap) {
    ScratchFolder folder;
    const std::string name = folder.file("in.txt");
    writeBytes(name, kNew);
    Bytes bytes;
    std::string why;
    ASSERT_TRUE(readFileBytes(name.c_str(), kNew.size(), bytes, &why)) << why;
    EXPECT_EQ(bytes, kNew);
    EXPECT_FALSE(readFileBytes(name.c_str(), kNew.size() - 1, bytes, &why));
    EXPECT_EQ(why, "file is larger than 10 bytes, more than any depth map of its kind needs");
    EXPECT_TRUE(bytes.empty());

    writeBytes(name, Bytes{});
    ASSERT_TRUE(readFileBytes(name.c_str(), 0, bytes, &why));
    EXPECT_TRUE(bytes.empty());

    EXPECT_FALSE(readFileBytes(folder.file("none.txt").c_str(), 100, bytes, &why));
    EXPECT_EQ(why, "cannot open: No such file or directory");
    EXPECT_FALSE(readFileBytes(folder.path().c_str(), 100, bytes, &why));
    EXPECT_EQ(why, "cannot read: Is a directory");
}

TEST(FileIoTest, PipeWithoutAWriterReadsEmptyAtOnce) {
    ScratchFolder folder;
    const std::string name = folder.file("pipe.txt");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    Bytes bytes{1};
    ASSERT_TRUE(readFileBytes(name.c_str(), 100, bytes, nullptr));
    EXPECT_TRUE(bytes.empty());
}

TEST(FileIoTest, ReadsStreamsWithoutAKnownSize) {
    // /proc files report size 0 yet hold text: the cap still bounds them.
    Bytes bytes;
    ASSERT_TRUE(readFileBytes("/proc/self/status", 1 << 20, bytes, nullptr));
    EXPECT_GT(bytes.size(), 0u);
    EXPECT_FALSE(readFileBytes("/proc/self/status", 4, bytes, nullptr));
}

}  // namespace
