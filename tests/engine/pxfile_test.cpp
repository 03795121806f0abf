#include "engine/pxfile.h"
#include "tests/support/testsupport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const uint8_t kBytes[] = {10, 20, 30, 40, 50, 60, 70};

TEST(PxMemFileTest, ReadsWithinBoundsAndFlagsShortReads)
{
    PxMemFile f(kBytes, sizeof kBytes);
    EXPECT_EQ(f.Size(), 7);
    uint8_t buf[8] = {};
    EXPECT_EQ(f.Read(buf, 2, 2), 2u);
    EXPECT_EQ(0, std::memcmp(buf, kBytes, 4));
    EXPECT_FALSE(f.Error());
    EXPECT_FALSE(f.Eof());
    // Three bytes left: one whole 2-byte item, and the read counts as failed.
    EXPECT_EQ(f.Read(buf, 2, 2), 1u);
    EXPECT_TRUE(f.Error());
    EXPECT_TRUE(f.Eof());
    f.ClearError();
    EXPECT_FALSE(f.Error());
}

TEST(PxMemFileTest, SeekOrigins)
{
    struct Case {
        int64_t offset;
        int origin;
        bool ok;
        int64_t pos; // expected position afterwards
    };
    const Case cases[] = {
        {3, SEEK_SET, true, 3},  {2, SEEK_CUR, true, 5},   {-1, SEEK_END, true, 6},
        {-8, SEEK_END, false, 6}, {-7, SEEK_CUR, false, 6}, {0, 99, false, 6},
        // Past the end is allowed, as with files; reading there simply finds nothing.
        {int64_t(1) << 40, SEEK_SET, true, int64_t(1) << 40},
        {INT64_MAX, SEEK_CUR, false, int64_t(1) << 40},
    };
    PxMemFile f(kBytes, sizeof kBytes);
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << " from " << c.origin);
        EXPECT_EQ(f.Seek(c.offset, c.origin), c.ok);
        EXPECT_EQ(f.Tell(), c.pos);
    }
    EXPECT_EQ(f.GetC(), EOF);
    EXPECT_TRUE(f.Error());
}

TEST(PxMemFileTest, GetCReturnsBytesThenEof)
{
    const uint8_t data[] = {0xFF, 0x00};
    PxMemFile f(data, 2);
    EXPECT_EQ(f.GetC(), 0xFF);
    EXPECT_EQ(f.GetC(), 0x00);
    EXPECT_FALSE(f.Error());
    EXPECT_EQ(f.GetC(), EOF);
    EXPECT_TRUE(f.Error());
}

TEST(PxMemFileTest, WriteGrowsAndFillsGapsWithZero)
{
    PxMemFile f;
    EXPECT_EQ(f.Write("ab", 1, 2), 2u);
    EXPECT_TRUE(f.PutWord(0x1234));
    ASSERT_TRUE(f.Seek(8, SEEK_SET));
    EXPECT_TRUE(f.PutC('z'));
    const std::vector<uint8_t> expected = {'a', 'b', 0x34, 0x12, 0, 0, 0, 0, 'z'};
    EXPECT_EQ(f.Buffer(), expected);
    EXPECT_EQ(f.Size(), 9);
    ASSERT_TRUE(f.Seek(1, SEEK_SET));
    EXPECT_EQ(f.GetC(), 'b');
    EXPECT_FALSE(f.Error());
}

TEST(PxMemFileTest, ReadOnlyViewRefusesWrites)
{
    PxMemFile f(kBytes, sizeof kBytes);
    EXPECT_EQ(f.Write("x", 1, 1), 0u);
    EXPECT_FALSE(f.PutC('x'));
    EXPECT_TRUE(f.Error());
    EXPECT_EQ(f.Size(), 7);
}

TEST(PxMemFileTest, NullDataIsEmpty)
{
    PxMemFile f(nullptr, 100);
    uint8_t b = 0;
    EXPECT_EQ(f.Read(&b, 1, 1), 0u);
    EXPECT_TRUE(f.Error());
}

TEST(PxIOFileTest, OpenFailures)
{
    TempFolder dir;
    PxIOFile f;
    EXPECT_FALSE(f.Open(dir.Fs("missing.bin"), "rb"));
    EXPECT_FALSE(f.Open(dir.Fs("no/such/folder/x.bin"), "wb"));
    // A folder opens with fopen on Linux, but it is no file to read.
    EXPECT_FALSE(f.Open(dir.Fs(), "rb"));
    EXPECT_EQ(f.GetFP(), nullptr);
}

// Pipes are tried by the tools' tests, where a wait that never ends is cut short.
TEST(PxIOFileTest, ReadingOpensRegularFilesAlone)
{
    TempFolder dir;
    WriteFileBytes(dir.Fs("plain.bin"), {1, 2, 3});
    std::filesystem::create_symlink(dir.Fs("plain.bin"), dir.Fs("to-plain"));
    std::filesystem::create_symlink("/dev/null", dir.Fs("to-device"));
    const int socket = BindSocket(dir.Fs("sock"));
    const struct {
        std::filesystem::path path;
        bool opens, special;
        int error;
    } cases[] = {
        {dir.Fs("plain.bin"), true, false, 0},
        {dir.Fs("to-plain"), true, false, 0},
        {"/dev/null", false, true, 0},
        {dir.Fs("to-device"), false, true, 0},
        {dir.Fs("sock"), false, true, 0},
        {dir.Fs(), false, false, EISDIR},
        {dir.Fs("missing"), false, false, ENOENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.string());
        PxIOFile f;
        errno = 0;
        EXPECT_EQ(f.Open(c.path, "rb"), c.opens);
        EXPECT_EQ(f.RefusedSpecialFile(), c.special);
        if (c.error) {
            EXPECT_EQ(errno, c.error);
        }
        if (c.opens) {
            EXPECT_EQ(f.GetC(), 1);
            // Reading blocks again once opened, as every reader expects.
            EXPECT_EQ(fcntl(fileno(f.GetFP()), F_GETFL) & O_NONBLOCK, 0);
        }
        bool special = !c.special;
        const int fd = PxOpenRegularFile(c.path, &special);
        EXPECT_EQ(fd >= 0, c.opens);
        EXPECT_EQ(special, c.special);
        if (fd >= 0)
            ::close(fd);
    }
    ::close(socket);
    // Writing still goes where it is told: that is how a full disk is tried.
    PxIOFile device;
    EXPECT_TRUE(device.Open("/dev/null", "wb"));
}

TEST(PxIOFileTest, WritesReadBackAndCountsUnflushedBytes)
{
    TempFolder dir;
    const auto path = dir.Fs("a.bin");
    PxIOFile out;
    ASSERT_TRUE(out.Open(path, "wb"));
    EXPECT_EQ(out.Write(kBytes, 1, sizeof kBytes), sizeof kBytes);
    EXPECT_TRUE(out.PutWord(0xBEEF));
    // Still in the stdio buffer, yet part of the file's size.
    EXPECT_EQ(out.Size(), 9);
    EXPECT_TRUE(out.Close());

    PxIOFile in;
    ASSERT_TRUE(in.Open(path, "rb"));
    EXPECT_EQ(in.Size(), 9);
    uint8_t buf[9] = {};
    EXPECT_EQ(in.Read(buf, 1, 9), 9u);
    EXPECT_EQ(buf[7], 0xEF);
    EXPECT_EQ(buf[8], 0xBE);
    EXPECT_FALSE(in.Error());
    EXPECT_EQ(in.GetC(), EOF);
    EXPECT_TRUE(in.Error());
    EXPECT_TRUE(in.Eof());
    in.ClearError();
    EXPECT_FALSE(in.Error());
    ASSERT_TRUE(in.Seek(-2, SEEK_END));
    EXPECT_EQ(in.GetC(), 0xEF);
}

TEST(PxIOFileTest, OffsetsBeyondFourGigabytes)
{
    TempFolder dir;
    const auto path = dir.Fs("sparse.bin");
    const int64_t far = (int64_t(5) << 30) + 3;
    PxIOFile out;
    ASSERT_TRUE(out.Open(path, "wb"));
    ASSERT_TRUE(out.Seek(far, SEEK_SET));
    EXPECT_EQ(out.Tell(), far);
    ASSERT_TRUE(out.PutC(0x5A));
    ASSERT_TRUE(out.Close());
    PxIOFile in;
    ASSERT_TRUE(in.Open(path, "rb"));
    EXPECT_EQ(in.Size(), far + 1);
    ASSERT_TRUE(in.Seek(-1, SEEK_END));
    EXPECT_EQ(in.Tell(), far);
    EXPECT_EQ(in.GetC(), 0x5A);
}

TEST(PxIOFileTest, FullDiskMakesCloseFail)
{
    PxIOFile f;
    ASSERT_TRUE(f.Open("/dev/full", "wb"));
    // The write lands in the stdio buffer; only flushing meets the full device.
    std::vector<uint8_t> data(100, 7);
    f.Write(data.data(), 1, data.size());
    EXPECT_FALSE(f.Close());
    EXPECT_TRUE(f.Error());
}

TEST(PxIOFileTest, BorrowedStreamIsFlushedButNotClosed)
{
    TempFolder dir;
    const auto path = dir.Fs("b.bin");
    FILE *fp = std::fopen(path.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    {
        PxIOFile f(fp);
        EXPECT_TRUE(f.PutC('q'));
        EXPECT_TRUE(f.Close());
    }
    EXPECT_EQ(std::fputc('r', fp), 'r');
    EXPECT_EQ(std::fclose(fp), 0);
    EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'q', 'r'}));
}

} // namespace
