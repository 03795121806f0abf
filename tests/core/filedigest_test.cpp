#include "core/filedigest.h"
#include "tests/support/testsupport.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// The journal's record of what a batch wrote: a pending save's file is reached through its
// descriptor, but a link put at a path is never followed.
TEST(FileDigest, OfFilesAndOfThisProcesssOwnDescriptors)
{
    TempFolder dir;
    WriteFileBytes(dir.Fs("a.bin"), {1, 2, 3, 4});
    const FileDigest expected = DigestOfBytes(QByteArray("\x01\x02\x03\x04", 4));
    std::filesystem::create_symlink(dir.Fs("a.bin"), dir.Fs("link.bin"));
    const int fd = ::open(dir.Fs("a.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const QString own = "/proc/self/fd/" + QString::number(fd);

    EXPECT_EQ(DigestOfFile(dir.File("a.bin")), expected);
    EXPECT_EQ(DigestOfFile(own), expected);
    EXPECT_EQ(DigestOfFile(dir.File("link.bin")), std::nullopt);
    EXPECT_EQ(DigestOfFile(own + "x"), std::nullopt);
    EXPECT_EQ(DigestOfFile("/proc/self/fd/999999"), std::nullopt);
    ::close(fd);
}

} // namespace
