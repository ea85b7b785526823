#include "io/file_bytes.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "scratch_folder.hpp"

using namespace tolvane;

namespace {

const Bytes kNew = {'n', 'e', 'w', ' ', 'b', 'y', 't', 'e', 's', 0, 0xFF};

TEST(FileBytesTest, ReadsWholeFilesUpToTheCap) {
    ScratchFolder folder;
    const std::string name = folder.file("in.txt");
    writeBytes(name, kNew);
    const FileBytes read = readFileBytes(name.c_str(), kNew.size());
    ASSERT_TRUE(read) << read.detail;
    EXPECT_EQ(read.bytes, kNew);
    const FileBytes tooLarge = readFileBytes(name.c_str(), kNew.size() - 1);
    EXPECT_EQ(tooLarge.status, FileReadStatus::TooLarge);
    EXPECT_TRUE(tooLarge.bytes.empty());

    writeBytes(name, Bytes{});
    EXPECT_TRUE(readFileBytes(name.c_str(), 0));
    EXPECT_EQ(readFileBytes(folder.file("none.txt").c_str(), 100).status, FileReadStatus::CannotOpen);
    // Only files and pipes are read: anything else is refused before a byte
    // is, so a name linked to /dev/zero costs nothing.
    EXPECT_EQ(readFileBytes(folder.path().c_str(), 100).status, FileReadStatus::NotAFile);
    ASSERT_EQ(::symlink("/dev/zero", folder.file("z.bmp").c_str()), 0);
    EXPECT_EQ(readFileBytes(folder.file("z.bmp").c_str(), 1u << 30).status, FileReadStatus::NotAFile);
}

TEST(FileBytesTest, PipeWithoutAWriterReadsEmptyAtOnce) {
    ScratchFolder folder;
    const std::string name = folder.file("pipe.txt");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    const FileBytes read = readFileBytes(name.c_str(), 100);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read.bytes.empty());
}

TEST(FileBytesTest, ReadsStreamsWithoutAKnownSize) {
    // /proc files report size 0 yet hold text: the cap still bounds them.
    const FileBytes read = readFileBytes("/proc/self/status", 1 << 20);
    ASSERT_TRUE(read);
    EXPECT_GT(read.bytes.size(), 0u);
    EXPECT_EQ(readFileBytes("/proc/self/status", 4).status, FileReadStatus::TooLarge);
}

}  // namespace
