#pragma once
// Helpers shared by every test executable: where the public image suites are, a temporary
// folder, and a recorder that stands in for every modal message box.

#include "ui/uiseams.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The shared test-image folder, or "" when it is absent.
std::filesystem::path TestDataDir();

#define PX_REQUIRE_TESTDATA()                                                                   \
    do {                                                                                        \
        if (TestDataDir().empty())                                                              \
            GTEST_SKIP() << "../shared/testdata is absent: skipping tests on the public image " \
                            "suites";                                                           \
    } while (0)

// Rows of ../shared/testdata/reference.tsv keyed by path, joined with manifest.tsv's format.
struct TestImageRef {
    std::string path;
    std::string format;
    std::string expect;
    int width = 0;
    int height = 0;
    std::string rgbaSha256;
    std::string visibleSha256;
};
std::vector<TestImageRef> LoadTestImageRefs();

std::string Sha256Hex(const void *data, size_t size);
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path &path);
void WriteFileBytes(const std::filesystem::path &path, const std::vector<uint8_t> &bytes);
// The bytes of path, or whenMissing when it cannot be read.
QByteArray FileBytes(const QString &path, const QByteArray &whenMissing = QByteArray());
// Puts bytes into path, failing the test when they cannot all be written.
void WriteFile(const QString &path, const QByteArray &bytes);
// A listening Unix socket's file at path; the descriptor, closed by the caller.
int BindSocket(const std::filesystem::path &path);

// An EXIF block (the APP1 payload, "Exif\0\0" on) laid out as cameras write it: IFD0 with Make,
// Model, Orientation and the link to the EXIF directory (DateTimeOriginal, PixelXDimension,
// PixelYDimension), then IFD1 and its JPEG thumbnail at the very end.
struct TestExif {
    bool bigEndian = false;
    uint16_t orientation = 1;
    std::string make = "Pixorta Test Cam";
    std::string model = "PX-1";
    std::string date = "2024:05:06 07:08:09";
    uint32_t pixelWidth = 0;
    uint32_t pixelHeight = 0;
    // The TIFF type both pixel sizes are stored in: 3 SHORT, 4 LONG, 8 SSHORT, 9 SLONG.
    uint16_t pixelType = 3;
    std::string thumbnail = std::string(300, '\x5A');
    // With exposure set, the EXIF directory also holds ExposureTime and FNumber.
    bool exposure = false;
    uint32_t exposureTime[2] = {1, 250};
    uint32_t fNumber[2] = {28, 10};
    // With gps set, IFD0 also links a GPS directory (between the EXIF directory's values and
    // IFD1): version, latitude and longitude with their references, and a processing method.
    bool gps = false;
    uint32_t latitude[3] = {48, 51, 30};
    uint32_t longitude[3] = {2, 17, 40};
    std::string gpsMethod = "PIXORTA-SECRET-PLACE";
};
std::string MakeExifBlock(const TestExif &exif);
// The JPEG's bytes with one more APPn segment (0xE1 EXIF, 0xE2 ICC) after its first segment.
std::vector<uint8_t> InsertJpegSegment(const std::vector<uint8_t> &jpeg, uint8_t marker,
                                       const std::string &payload);

// Records every message box shown while it lives and answers from a script (Yes/Ok by default).
class MessageRecorder {
public:
    struct Entry {
        QString text;
        QString caption;
        MsgButtons buttons;
    };
    MessageRecorder();
    ~MessageRecorder();
    void Answer(MsgAnswer a) { m_script.push_back(a); }
    const std::vector<Entry> &Messages() const { return m_messages; }
    QStringList Texts() const;

private:
    MessageHandler m_previous;
    std::deque<MsgAnswer> m_script;
    std::vector<Entry> m_messages;
};

class TempFolder {
public:
    TempFolder() { m_dir.setAutoRemove(true); }
    // Qt's own removal passes over names that are not UTF-8; these go too.
    ~TempFolder()
    {
        std::error_code ec;
        if (m_dir.isValid())
            std::filesystem::remove_all(std::filesystem::path(m_dir.path().toStdString()), ec);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    QString Path() const { return m_dir.path(); }
    QString File(const QString &name) const { return m_dir.filePath(name); }
    std::filesystem::path Fs(const std::string &name = {}) const
    {
        return std::filesystem::path(m_dir.path().toStdString()) / name;
    }

private:
    QTemporaryDir m_dir;
};
