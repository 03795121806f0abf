#include "engine/pxcodecs_p.h"
#include "engine/pxfile.h"
#include "engine/pximage.h"
#include "engine/pxpendingsave.h"
#include "engine/pxsave_testhooks.h"
#include "tests/support/testsupport.h"

#include <algorithm>

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A small 24-bit picture whose every byte, padding included, is known.
PxImage MakeRgb(uint32_t w = 5, uint32_t h = 3)
{
    PxImage img;
    EXPECT_NE(img.Create(w, h, 24), nullptr);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t i = 0; i < img.GetEffWidth(); ++i)
            img.GetBits(y)[i] = static_cast<uint8_t>(y * 31 + i * 7);
    return img;
}

std::vector<uint8_t> EncodeToMemory(PxImage &img, uint32_t format)
{
    PxMemFile f;
    EXPECT_TRUE(img.Encode(f, format)) << img.GetLastError();
    return f.Buffer();
}

std::vector<std::string> FolderEntries(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes fail once `limit` bytes went through: a disk that fills up half way.
class FillingFile : public PxMemFile {
public:
    explicit FillingFile(size_t limit) : m_limit(limit) {}
    size_t Write(const void *buffer, size_t size, size_t count) override
    {
        if (Buffer().size() + size * count > m_limit) {
            m_full = true;
            return 0;
        }
        return PxMemFile::Write(buffer, size, count);
    }
    bool Error() override { return m_full || PxMemFile::Error(); }

private:
    size_t m_limit;
    bool m_full = false;
};

// Reports success for every write but flags the error afterwards, like a stream whose codec
// does not look at the count it gets back.
class SilentlyFailingFile : public PxMemFile {
public:
    size_t Write(const void *, size_t, size_t count) override { return count; }
    bool Error() override { return true; }
};

mode_t ModeOf(const fs::path &p)
{
    struct stat st {};
    stat(p.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(FormatTable, SaveExtensionsAndDetectionOrder)
{
    // A TGA has no mapped extension (it is found by content) but is written under ".tga";
    // an icon is never written as a cursor.
    EXPECT_EQ(FormatForSaveExtension("TGA"), uint32_t{PXFORMAT_TGA});
    EXPECT_EQ(FormatForSaveExtension("jpeg"), uint32_t{PXFORMAT_JPG});
    EXPECT_EQ(FormatForSaveExtension("cur"), uint32_t{PXFORMAT_UNKNOWN});
    EXPECT_EQ(FormatForSaveExtension("wmf"), uint32_t{PXFORMAT_UNKNOWN});

    std::vector<std::pair<int, uint32_t>> ranked;
    for (const PxFormatInfo &f : PxFormats())
        if (f.detectionRank > 0)
            ranked.push_back({f.detectionRank, f.code});
    std::sort(ranked.begin(), ranked.end());
    std::vector<uint32_t> order;
    for (const auto &r : ranked)
        order.push_back(r.second);
    EXPECT_EQ(order, (std::vector<uint32_t>{PXFORMAT_BMP, PXFORMAT_JPG, PXFORMAT_ICO, PXFORMAT_GIF,
                                            PXFORMAT_PNG, PXFORMAT_TIF, PXFORMAT_WEBP, PXFORMAT_HEIC,
                                            PXFORMAT_AVIF, PXFORMAT_JXL, PXFORMAT_TGA, PXFORMAT_PCX,
                                            PXFORMAT_WBMP, PXFORMAT_WMF}));
    EXPECT_EQ(WritableExtensionList(","), "bmp,gif,jpg,jpe,jpeg,png,ico,tif,tiff,tga,pcx,jp2,jpeg2,jpg2,"
                                          "webp,heic,heif,hif,avif,jxl");
}

TEST(FormatFromExtensionTest, MapsTheTable)
{
    const struct {
        const char *ext;
        uint32_t format;
    } cases[] = {
        {"bmp", 1},  {"BMP", 1},  {"gif", 2},  {"jpg", 3},   {"JPG", 3},  {"jpe", 3},
        {"jpeg", 3}, {"JpEg", 3}, {"png", 4},  {"ico", 5},   {"tif", 6},  {"tiff", 6},
        {"pcx", 8},  {"jp2", 11}, {"jpeg2", 11}, {"jpg2", 11}, {"tga", 0}, {"wbmp", 0},
        {"wmf", 0},  {"jpg ", 0}, {".jpg", 0}, {"", 0},     {"dat", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ext);
        EXPECT_EQ(FormatFromExtension(c.ext), c.format);
    }
}

TEST(PxImageDecodeTest, FailuresNameTheReason)
{
    const uint8_t garbage[] = "this is no picture at all, just some text of moderate length";
    const struct {
        uint32_t format;
        const char *text;
    } cases[] = {
        {0, "Decode: Unknown or wrong format"},
        {20, "Decode: Unknown or wrong format"},
        {99, "Decode: Unknown or wrong format"},
        {1, "not a BMP file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        PxImage img;
        EXPECT_FALSE(img.Decode(garbage, sizeof garbage, c.format));
        EXPECT_STREQ(img.GetLastError(), c.text);
        EXPECT_FALSE(img.IsValid());
    }
    PxImage empty;
    EXPECT_FALSE(empty.Decode(nullptr, 0, 0));
    EXPECT_STREQ(empty.GetLastError(), "Decode: Unknown or wrong format");
}

TEST(PxImageDecodeTest, FailedDecodeKeepsTheTargetsPicture)
{
    PxImage img = MakeRgb(4, 2);
    const uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(img.Decode(garbage, sizeof garbage, 0));
    EXPECT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 4u);
}

TEST(PxImageDecodeTest, SuccessReplacesEveryField)
{
    PxImage src = MakeRgb(6, 4);
    src.SetXDPI(300);
    src.SetYDPI(150);
    const auto bytes = EncodeToMemory(src, PXFORMAT_BMP);

    PxImage target;
    ASSERT_NE(target.Create(2, 2, 8), nullptr);
    target.SetJpegQuality(40);
    target.SetTransIndex(3);
    target.SetCodecOption(7);
    target.SetNumFrames(9);
    target.SetLastError("old text");
    ASSERT_TRUE(target.Decode(bytes.data(), bytes.size(), 0));
    EXPECT_EQ(target.GetWidth(), 6u);
    EXPECT_EQ(target.GetBpp(), 24u);
    EXPECT_EQ(target.GetType(), PXFORMAT_BMP);
    EXPECT_EQ(target.GetJpegQuality(), 90);
    EXPECT_EQ(target.GetTransIndex(), -1);
    EXPECT_EQ(target.GetCodecOption(), 0u);
    EXPECT_EQ(target.GetNumFrames(), 0);
    EXPECT_EQ(target.GetXDPI(), 300);
    EXPECT_EQ(target.GetYDPI(), 150);
    EXPECT_STREQ(target.GetLastError(), "");
}

TEST(PxImageDecodeTest, DetectionRewindsToWhereTheStreamStood)
{
    PxImage src = MakeRgb();
    auto bmp = EncodeToMemory(src, PXFORMAT_BMP);
    std::vector<uint8_t> data = {'j', 'u', 'n', 'k'};
    data.insert(data.end(), bmp.begin(), bmp.end());
    PxMemFile f(data.data(), data.size());
    ASSERT_TRUE(f.Seek(4, SEEK_SET));
    PxImage img;
    ASSERT_TRUE(img.Decode(f, 0)) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 5u);
}

TEST(PxImageDecodeTest, LaterCodecsStillSeeTheWholeStream)
{
    // BMP and JPEG read and reject the data first; PNG must still find its signature where
    // the stream started, five bytes in.
    PX_REQUIRE_TESTDATA();
    auto png = ReadFileBytes(TestDataDir() / "pngsuite/basn2c08.png");
    std::vector<uint8_t> data(5, 'x');
    data.insert(data.end(), png.begin(), png.end());
    PxMemFile f(data.data(), data.size());
    ASSERT_TRUE(f.Seek(5, SEEK_SET));
    PxImage img;
    ASSERT_TRUE(img.Decode(f, 0)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), PXFORMAT_PNG);
    EXPECT_EQ(img.GetWidth(), 32u);
}

TEST(PxImageDecodeTest, DetectionFindsEachFormat)
{
    PX_REQUIRE_TESTDATA();
    const struct {
        const char *file;
        uint32_t format;
    } cases[] = {
        {"bmpsuite/g/pal8.bmp", PXFORMAT_BMP},
        {"pillow/jpeg/hopper.jpg", PXFORMAT_JPG},
        {"pngsuite/basn2c08.png", PXFORMAT_PNG},
        {"libtiff/quad-lzw-compat.tiff", PXFORMAT_TIF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const auto bytes = ReadFileBytes(TestDataDir() / c.file);
        ASSERT_FALSE(bytes.empty());
        PxImage img;
        ASSERT_TRUE(img.Decode(bytes.data(), bytes.size(), 0)) << img.GetLastError();
        EXPECT_EQ(img.GetType(), c.format);
    }
}

// Every file of the public suites, named by its extension as a batch names it and once more
// found by content alone: whatever the full decode reads, the header read reads too, with the
// same format and size; and the broken files cost it nothing worse than a refusal.
TEST(PxImageHeaderTest, TellsWhatTheFullDecodeGives)
{
    PX_REQUIRE_TESTDATA();
    int read = 0;
    for (const TestImageRef &ref : LoadTestImageRefs()) {
        const fs::path path = TestDataDir() / ref.path;
        const uint32_t named = FormatFromExtension(path.extension().string().substr(1));
        for (uint32_t format : {named, uint32_t(PXFORMAT_UNKNOWN)}) {
            SCOPED_TRACE(ref.path + " as format " + std::to_string(format));
            PxImage full, probe;
            PxHeaderInfo info;
            const bool loaded = full.Load(path, format);
            const bool headed = probe.LoadHeader(path, format, info);
            if (!loaded)
                continue;
            ASSERT_TRUE(headed) << probe.GetLastError();
            EXPECT_EQ(info.format, full.GetType());
            EXPECT_EQ(info.width, full.GetWidth());
            EXPECT_EQ(info.height, full.GetHeight());
            read += format == named;
        }
    }
    EXPECT_GT(read, 500);

    PxImage probe;
    PxHeaderInfo info;
    EXPECT_FALSE(probe.LoadHeader("/nonexistent/x.jpg", PXFORMAT_JPG, info));
    const std::vector<uint8_t> junk = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    PxMemFile file(junk.data(), junk.size());
    EXPECT_FALSE(probe.DecodeHeader(file, PXFORMAT_UNKNOWN, info));
    EXPECT_STREQ(probe.GetLastError(), "Decode: Unknown or wrong format");
}

TEST(PxImageEncodeTest, FailuresNameTheReason)
{
    PxImage empty;
    PxMemFile f1;
    EXPECT_FALSE(empty.Encode(f1, PXFORMAT_BMP));
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");

    PxImage img = MakeRgb();
    PxIOFile unopened;
    EXPECT_FALSE(img.Encode(unopened, PXFORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "null file handler");

    const struct {
        uint32_t format;
        const char *text;
    } cases[] = {
        {0, "Encode: Unknown format"},
        {20, "Encode: Unknown format"},
        {PXFORMAT_WMF, "Save WMF not supported"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        PxMemFile f;
        EXPECT_FALSE(img.Encode(f, c.format));
        EXPECT_STREQ(img.GetLastError(), c.text);
    }
}

TEST(PxImageEncodeTest, WriteErrorsAreNeverSuccess)
{
    PxImage img = MakeRgb(40, 40);
    for (size_t limit : {size_t(0), size_t(10), size_t(60), size_t(2000)}) {
        SCOPED_TRACE(limit);
        FillingFile f(limit);
        img.SetLastError("");
        EXPECT_FALSE(img.Encode(f, PXFORMAT_BMP));
        EXPECT_STRNE(img.GetLastError(), "");
    }
    SilentlyFailingFile silent;
    EXPECT_FALSE(img.Encode(silent, PXFORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "Encode: write error");
}

class PxImageFileTest : public testing::Test {
protected:
    TempFolder dir;
};

TEST_F(PxImageFileTest, LoadOfAMissingFileKeepsTheErrorText)
{
    for (uint32_t format : {0u, 1u, 3u}) {
        SCOPED_TRACE(format);
        PxImage img;
        img.SetLastError("earlier text");
        EXPECT_FALSE(img.Load(dir.Fs("missing.bmp"), format));
        EXPECT_STREQ(img.GetLastError(), "earlier text");
        EXPECT_FALSE(img.Load(dir.Fs(), format));
        EXPECT_STREQ(img.GetLastError(), "earlier text");
    }
}

TEST_F(PxImageFileTest, LoadKeepsTheNamedFormatsText)
{
    // 20-byte BMP that claims a 100 x 100 24-bit picture.
    std::vector<uint8_t> truncated = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0,
                                      0, 100, 0};
    truncated.resize(54);
    truncated[22] = 100;
    truncated[26] = 1;
    truncated[28] = 24;
    WriteFileBytes(dir.Fs("short.bmp"), truncated);

    PxImage img;
    EXPECT_FALSE(img.Load(dir.Fs("short.bmp"), PXFORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "BMP header claims 30000 bytes of pixels, file has 0");
    EXPECT_FALSE(img.Load(dir.Fs("short.bmp"), 0));
    EXPECT_STREQ(img.GetLastError(), "Decode: Unknown or wrong format");
    // A code beyond the table is no named format: detection's text stands.
    EXPECT_FALSE(img.Load(dir.Fs("short.bmp"), 42));
    EXPECT_STREQ(img.GetLastError(), "Decode: Unknown or wrong format");
}

TEST_F(PxImageFileTest, WrongNamedFormatFallsBackToDetection)
{
    PxImage src = MakeRgb();
    ASSERT_TRUE(src.Save(dir.Fs("really-a-bmp.jpg"), PXFORMAT_BMP));
    PxImage img;
    ASSERT_TRUE(img.Load(dir.Fs("really-a-bmp.jpg"), PXFORMAT_JPG)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), PXFORMAT_BMP);
    ASSERT_TRUE(img.Load(dir.Fs("really-a-bmp.jpg"), 0));
}

TEST_F(PxImageFileTest, SaveCreatesAFileWithTheUsualPermissions)
{
    PxImage img = MakeRgb();
    const auto path = dir.Fs("new.bmp");
    ASSERT_TRUE(img.Save(path, PXFORMAT_BMP)) << img.GetLastError();
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(ModeOf(path), 0666 & ~mask);
    EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"new.bmp"});
}

TEST_F(PxImageFileTest, FailedSaveLeavesTheOldFileIntact)
{
    const auto path = dir.Fs("keep.bmp");
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    WriteFileBytes(path, old);
    PxImage img = MakeRgb();
    PxImage empty;
    const struct {
        PxImage *image;
        uint32_t format;
        const char *text;
    } cases[] = {
        {&img, PXFORMAT_WMF, "Save WMF not supported"},
        {&img, 77, "Encode: Unknown format"},
        {&empty, PXFORMAT_BMP, "null image!!!"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_FALSE(c.image->Save(path, c.format));
        EXPECT_STREQ(c.image->GetLastError(), c.text);
        EXPECT_EQ(ReadFileBytes(path), old);
        EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"keep.bmp"});
    }
}

TEST_F(PxImageFileTest, SaveKeepsThePermissionBitsOfTheFileItReplaces)
{
    PxImage img = MakeRgb();
    for (mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0755), mode_t(0200)}) {
        SCOPED_TRACE(mode);
        const auto path = dir.Fs("perm.bmp");
        WriteFileBytes(path, {'x'});
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(img.Save(path, PXFORMAT_BMP)) << img.GetLastError();
        EXPECT_EQ(ModeOf(path), mode);
        EXPECT_GT(ReadFileBytes(path).size(), 54u);
        fs::remove(path);
    }
}

TEST_F(PxImageFileTest, ReadOnlyTargetIsRefusedAndUntouched)
{
    const auto path = dir.Fs("locked.bmp");
    WriteFileBytes(path, {'r', 'o'});
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    PxImage img = MakeRgb();
    img.SetLastError("before");
    EXPECT_FALSE(img.Save(path, PXFORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "before");
    EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'r', 'o'}));
    EXPECT_EQ(ModeOf(path), 0444u);
    EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"locked.bmp"});
}

TEST_F(PxImageFileTest, SaveIntoAMissingFolderFailsAtTheOpen)
{
    PxImage img = MakeRgb();
    img.SetLastError("before");
    EXPECT_FALSE(img.Save(dir.Fs("nowhere/x.bmp"), PXFORMAT_BMP));
    EXPECT_STREQ(img.GetLastError(), "before");
    EXPECT_FALSE(img.Save(dir.Fs(), PXFORMAT_BMP));
}

TEST_F(PxImageFileTest, SaveThroughASymlinkReplacesItsTarget)
{
    const auto real = dir.Fs("real.bmp");
    const auto link = dir.Fs("link.bmp");
    WriteFileBytes(real, {'x'});
    fs::create_symlink(real, link);
    PxImage img = MakeRgb();
    ASSERT_TRUE(img.Save(link, PXFORMAT_BMP));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_GT(ReadFileBytes(real).size(), 54u);
}

TEST_F(PxImageFileTest, FullDiskFailsTheSave)
{
    PxImage img = MakeRgb(64, 64);
    EXPECT_FALSE(img.Save("/dev/full", PXFORMAT_BMP));
    EXPECT_STRNE(img.GetLastError(), "");
}

// Pipes are tried by the tools' tests, where a wait that never ends is cut short.
TEST_F(PxImageFileTest, SpecialFilesAreNeitherReadNorWritten)
{
    fs::create_symlink("/dev/null", dir.Fs("device.bmp"));
    const int socket = BindSocket(dir.Fs("socket.bmp"));
    PxImage img = MakeRgb();
    for (const fs::path &path : {fs::path("/dev/null"), dir.Fs("device.bmp"), dir.Fs("socket.bmp")}) {
        SCOPED_TRACE(path.string());
        PxImage back;
        PxHeaderInfo header;
        for (uint32_t format : {0u, uint32_t(PXFORMAT_BMP)}) {
            back.SetLastError("");
            EXPECT_FALSE(back.Load(path, format));
            EXPECT_STREQ(back.GetLastError(), "not a regular file");
            back.SetLastError("");
            EXPECT_FALSE(back.LoadHeader(path, format, header));
            EXPECT_STREQ(back.GetLastError(), "not a regular file");
        }
        img.SetLastError("");
        EXPECT_FALSE(img.Save(path, PXFORMAT_BMP));
        EXPECT_STREQ(img.GetLastError(), "not a regular file");
    }
    ::close(socket);
    EXPECT_TRUE(fs::is_symlink(dir.Fs("device.bmp")));
    EXPECT_EQ(FolderEntries(dir.Fs()), (std::vector<std::string>{"device.bmp", "socket.bmp"}));
}

// The target is looked at again when the save is committed: a device put there meanwhile is
// left alone and nothing stays behind.
TEST_F(PxImageFileTest, CommitRefusesADevicePutAtTheTargetMeanwhile)
{
    const auto path = dir.Fs("photo.bmp");
    WriteFileBytes(path, {'o', 'l', 'd'});
    PxImage img = MakeRgb();
    PxPendingSave pending;
    ASSERT_TRUE(img.SaveToPending(path, PXFORMAT_BMP, pending)) << img.GetLastError();
    fs::remove(path);
    fs::create_symlink("/dev/null", path);
    std::string error;
    EXPECT_FALSE(pending.Commit(&error));
    EXPECT_EQ(error, "not a regular file");
    EXPECT_FALSE(pending.IsPending());
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"photo.bmp"});
}

bool FolderTakesUnnamedFiles(const fs::path &folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Nothing of a pending save can be seen in the user's folder, so nothing can be left there by
// a process killed before the commit; yet its readers reach what was encoded.
TEST_F(PxImageFileTest, APendingSaveHasNoNameInTheFolder)
{
    if (!FolderTakesUnnamedFiles(dir.Fs()))
        GTEST_SKIP() << "this file system makes no unnamed files";
    const auto path = dir.Fs("photo.bmp");
    PxImage img = MakeRgb(7, 5);
    for (bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "replacing a file" : "a new file");
        PxPendingSave pending;
        ASSERT_TRUE(img.SaveToPending(path, PXFORMAT_BMP, pending)) << img.GetLastError();
        EXPECT_EQ(FolderEntries(dir.Fs()),
                  replacing ? std::vector<std::string>{"photo.bmp"} : std::vector<std::string>{});
        EXPECT_EQ(pending.EncodedFile().string().rfind("/proc/self/fd/", 0), 0u)
            << pending.EncodedFile();
        PxImage encoded;
        ASSERT_TRUE(encoded.Load(pending.EncodedFile(), PXFORMAT_BMP)) << encoded.GetLastError();
        EXPECT_EQ(encoded.GetWidth(), 7u);
        ASSERT_TRUE(pending.Commit());
        EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"photo.bmp"});
        EXPECT_EQ(ReadFileBytes(path).size(), 14u + img.GetSize());
    }
    PxPendingSave dropped;
    ASSERT_TRUE(MakeRgb(2, 2).SaveToPending(dir.Fs("dropped.bmp"), PXFORMAT_BMP, dropped));
    dropped.Discard();
    EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"photo.bmp"});
}

// Stands for a file system that cannot make unnamed files while it lives.
struct NamedPendingFiles {
    NamedPendingFiles() { PxAllowUnnamedPendingFilesForTests(false); }
    ~NamedPendingFiles() { PxAllowUnnamedPendingFilesForTests(true); }
};

TEST_F(PxImageFileTest, WithoutUnnamedFilesTheSaveIsAHiddenFileUntilCommitted)
{
    const NamedPendingFiles named;
    const auto path = dir.Fs("photo.bmp");
    PxImage img = MakeRgb();
    PxPendingSave pending;
    ASSERT_TRUE(img.SaveToPending(path, PXFORMAT_BMP, pending)) << img.GetLastError();
    const std::vector<std::string> during = FolderEntries(dir.Fs());
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind(".photo.bmp.pxsave-", 0), 0u) << during[0];
    EXPECT_EQ(pending.EncodedFile(), dir.Fs(during[0]));
    ASSERT_TRUE(pending.Commit());
    EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"photo.bmp"});
    PxPendingSave dropped;
    ASSERT_TRUE(img.SaveToPending(path, PXFORMAT_BMP, dropped));
    dropped.Discard();
    EXPECT_EQ(FolderEntries(dir.Fs()), std::vector<std::string>{"photo.bmp"});
}

// What a killed process left of its saves goes with the next save into the folder, once it is a
// day old; nothing else is touched, however much it looks like one.
TEST_F(PxImageFileTest, StrayPendingFilesADayOldGoWithTheNextSave)
{
    const timespec twoDaysAgo{::time(nullptr) - 2 * 24 * 3600, 0};
    auto make = [&](const std::string &name, bool old) {
        WriteFileBytes(dir.Fs(name), {'x'});
        if (old) {
            const timespec times[2] = {twoDaysAgo, twoDaysAgo};
            ASSERT_EQ(::utimensat(AT_FDCWD, dir.Fs(name).c_str(), times, 0), 0);
        }
    };
    const std::vector<std::string> gone = {".a.jpg.pxsave-4242-7-0badcafe",
                                           ".b c.png.pxsave-1-0-00000000",
                                           "..pxsave-1-0-00000000.pxsave-17-3-12345678"};
    for (const std::string &name : gone)
        ASSERT_NO_FATAL_FAILURE(make(name, true));
    std::vector<std::string> kept = {
        ".young.jpg.pxsave-4242-7-0badcafe", // still being written, maybe
        ".a.jpg.pxsave-4242-7-0BADCAFE",     // not as we write them
        ".a.jpg.pxsave-4242-7-0badcaf",
        ".a.jpg.pxsave-4242-x-0badcafe",
        ".a.jpg.pxsave--7-0badcafe",
        "a.jpg.pxsave-4242-7-0badcafe",
        "..pxsave-4242-7-0badcafe",
        ".a.jpg.pxsave-4242-7-0badcafe.jpg",
    };
    for (const std::string &name : kept)
        ASSERT_NO_FATAL_FAILURE(make(name, name.rfind(".young", 0) != 0));
    // Not a regular file, or somebody else's.
    fs::create_directory(dir.Fs(".d.jpg.pxsave-1-2-abcdef01"));
    fs::create_symlink(dir.Fs(gone[0]), dir.Fs(".l.jpg.pxsave-1-2-abcdef01"));
    const timespec times[2] = {twoDaysAgo, twoDaysAgo};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.Fs(".l.jpg.pxsave-1-2-abcdef01").c_str(), times,
                          AT_SYMLINK_NOFOLLOW), 0);
    kept.push_back(".d.jpg.pxsave-1-2-abcdef01");
    kept.push_back(".l.jpg.pxsave-1-2-abcdef01");
    if (::geteuid() == 0) {
        ASSERT_NO_FATAL_FAILURE(make(".other.jpg.pxsave-1-2-abcdef01", true));
        ASSERT_EQ(::lchown(dir.Fs(".other.jpg.pxsave-1-2-abcdef01").c_str(), 65534, 65534), 0);
        kept.push_back(".other.jpg.pxsave-1-2-abcdef01");
    }

    PxImage img = MakeRgb();
    ASSERT_TRUE(img.Save(dir.Fs("new.bmp"), PXFORMAT_BMP)) << img.GetLastError();
    kept.push_back("new.bmp");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(FolderEntries(dir.Fs()), kept);
}

TEST_F(PxImageFileTest, SavedBmpLoadsBackIdentical)
{
    PxImage img = MakeRgb(7, 5);
    const auto path = dir.Fs("round.bmp");
    ASSERT_TRUE(img.Save(path, PXFORMAT_BMP));
    // The file is the block behind a 14-byte header.
    const auto bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 14u + img.GetSize());
    EXPECT_EQ(0, std::memcmp(bytes.data() + 14, img.GetDIB(), img.GetSize()));
    PxImage back;
    ASSERT_TRUE(back.Load(path, 0));
    EXPECT_EQ(0, std::memcmp(back.GetDIB(), img.GetDIB(), img.GetSize()));
}

} // namespace
