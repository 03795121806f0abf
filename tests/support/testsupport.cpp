#include "testsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

std::filesystem::path TestDataDir()
{
    std::filesystem::path dir;
    if (const char *env = std::getenv("PIXORTA_TESTDATA"); env && *env)
        dir = env;
    else
        dir = PIXORTA_TESTDATA_DEFAULT;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(dir / "reference.tsv", ec))
        return {};
    return dir;
}

static std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path &file)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t'))
            cells.push_back(cell);
        rows.push_back(std::move(cells));
    }
    return rows;
}

std::vector<TestImageRef> LoadTestImageRefs()
{
    std::vector<TestImageRef> refs;
    const auto dir = TestDataDir();
    if (dir.empty())
        return refs;
    const auto manifest = ReadTsv(dir / "manifest.tsv");
    const auto reference = ReadTsv(dir / "reference.tsv");
    if (manifest.empty() || reference.empty())
        return refs;
    auto column = [](const std::vector<std::string> &header, const std::string &name) {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name)
                return static_cast<int>(i);
        return -1;
    };
    const int mPath = column(manifest[0], "path"), mFormat = column(manifest[0], "format");
    std::map<std::string, std::string> formats;
    for (size_t i = 1; i < manifest.size(); ++i)
        if (static_cast<int>(manifest[i].size()) > std::max(mPath, mFormat))
            formats[manifest[i][mPath]] = manifest[i][mFormat];
    const auto &h = reference[0];
    const int cPath = column(h, "path"), cW = column(h, "width"), cH = column(h, "height"),
              cSha = column(h, "rgba_sha256"), cVis = column(h, "visible_sha256"),
              cExpect = column(h, "expect");
    for (size_t i = 1; i < reference.size(); ++i) {
        const auto &r = reference[i];
        auto cell = [&](int c) { return c >= 0 && c < static_cast<int>(r.size()) ? r[c] : std::string(); };
        TestImageRef ref;
        ref.path = cell(cPath);
        ref.format = formats[ref.path];
        ref.expect = cell(cExpect);
        ref.width = std::atoi(cell(cW).c_str());
        ref.height = std::atoi(cell(cH).c_str());
        ref.rgbaSha256 = cell(cSha);
        ref.visibleSha256 = cell(cVis);
        refs.push_back(std::move(ref));
    }
    return refs;
}

std::string Sha256Hex(const void *data, size_t size)
{
    return QCryptographicHash::hash(
               QByteArrayView(static_cast<const char *>(data), static_cast<qsizetype>(size)),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

QByteArray FileBytes(const QString &path, const QByteArray &whenMissing)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : whenMissing;
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size()) << path.toStdString();
}

int BindSocket(const std::filesystem::path &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    return fd;
}

MessageRecorder::MessageRecorder()
{
    m_previous = SetMessageHandler([this](const QString &text, const QString &caption,
                                          MsgButtons buttons, MsgIcon) {
        m_messages.push_back({text, caption, buttons});
        if (!m_script.empty()) {
            const MsgAnswer a = m_script.front();
            m_script.pop_front();
            return a;
        }
        return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MsgAnswer::Ok
                                                                             : MsgAnswer::Yes;
    });
}

MessageRecorder::~MessageRecorder()
{
    SetMessageHandler(m_previous);
}

QStringList MessageRecorder::Texts() const
{
    QStringList texts;
    for (const auto &m : m_messages)
        texts << m.text;
    return texts;
}

std::string MakeExifBlock(const TestExif &exif)
{
    std::string t;
    auto u16 = [&](uint32_t v) {
        const char hi = static_cast<char>(v >> 8), lo = static_cast<char>(v);
        t += exif.bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    };
    auto u32 = [&](uint32_t v) {
        if (exif.bigEndian)
            u16(v >> 16), u16(v & 0xFFFF);
        else
            u16(v & 0xFFFF), u16(v >> 16);
    };
    auto at = [&](size_t offset, uint32_t v) { // fills in a 32-bit field written earlier
        for (int i = 0; i < 4; ++i)
            t[offset + i] = static_cast<char>(v >> (exif.bigEndian ? 24 - 8 * i : 8 * i));
    };
    const std::string make = exif.make + '\0', model = exif.model + '\0', date = exif.date + '\0';
    t = exif.bigEndian ? "MM" : "II";
    u16(42);
    u32(8);
    // IFD0: Make, Model, Orientation, ExifIFD (and GPSInfo); the strings follow it.
    u16(exif.gps ? 5 : 4);
    const size_t makeAt = t.size() + 8;
    u16(0x010F), u16(2), u32(static_cast<uint32_t>(make.size())), u32(0);
    const size_t modelAt = t.size() + 8;
    u16(0x0110), u16(2), u32(static_cast<uint32_t>(model.size())), u32(0);
    u16(0x0112), u16(3), u32(1), u16(exif.orientation), u16(0);
    const size_t subAt = t.size() + 8;
    u16(0x8769), u16(4), u32(1), u32(0);
    const size_t gpsAt = t.size() + 8;
    if (exif.gps)
        u16(0x8825), u16(4), u32(1), u32(0);
    const size_t nextAt = t.size();
    u32(0);
    at(makeAt, static_cast<uint32_t>(t.size()));
    t += make;
    at(modelAt, static_cast<uint32_t>(t.size()));
    t += model;
    // The EXIF directory.
    at(subAt, static_cast<uint32_t>(t.size()));
    u16(exif.exposure ? 5 : 3);
    const size_t exposureAt = t.size() + 8;
    if (exif.exposure)
        u16(0x829A), u16(5), u32(1), u32(0);
    const size_t fNumberAt = t.size() + 8;
    if (exif.exposure)
        u16(0x829D), u16(5), u32(1), u32(0);
    const size_t dateAt = t.size() + 8;
    u16(0x9003), u16(2), u32(static_cast<uint32_t>(date.size())), u32(0);
    const bool wide = exif.pixelType == 4 || exif.pixelType == 9;
    for (auto [tag, size] : {std::pair{0xA002u, exif.pixelWidth}, {0xA003u, exif.pixelHeight}}) {
        u16(tag), u16(exif.pixelType), u32(1);
        if (wide)
            u32(size);
        else
            u16(size), u16(0);
    }
    u32(0);
    at(dateAt, static_cast<uint32_t>(t.size()));
    t += date;
    if (exif.exposure) {
        at(exposureAt, static_cast<uint32_t>(t.size()));
        u32(exif.exposureTime[0]), u32(exif.exposureTime[1]);
        at(fNumberAt, static_cast<uint32_t>(t.size()));
        u32(exif.fNumber[0]), u32(exif.fNumber[1]);
    }
    if (exif.gps) {
        if (t.size() % 2)
            t += '\0';
        at(gpsAt, static_cast<uint32_t>(t.size()));
        const std::string method = std::string("ASCII\0\0\0", 8) + exif.gpsMethod;
        u16(6);
        u16(0x0000), u16(1), u32(4), t += std::string("\2\2\0\0", 4);
        u16(0x0001), u16(2), u32(2), t += std::string("N\0\0\0", 4);
        const size_t latitudeAt = t.size() + 8;
        u16(0x0002), u16(5), u32(3), u32(0);
        u16(0x0003), u16(2), u32(2), t += std::string("E\0\0\0", 4);
        const size_t longitudeAt = t.size() + 8;
        u16(0x0004), u16(5), u32(3), u32(0);
        const size_t methodAt = t.size() + 8;
        u16(0x001B), u16(7), u32(static_cast<uint32_t>(method.size())), u32(0);
        u32(0);
        at(latitudeAt, static_cast<uint32_t>(t.size()));
        for (uint32_t v : exif.latitude)
            u32(v), u32(1);
        at(longitudeAt, static_cast<uint32_t>(t.size()));
        for (uint32_t v : exif.longitude)
            u32(v), u32(1);
        at(methodAt, static_cast<uint32_t>(t.size()));
        t += method;
    }
    // IFD1 and the thumbnail, last.
    at(nextAt, static_cast<uint32_t>(t.size()));
    u16(2);
    const size_t thumbAt = t.size() + 8;
    u16(0x0201), u16(4), u32(1), u32(0);
    u16(0x0202), u16(4), u32(1), u32(static_cast<uint32_t>(exif.thumbnail.size()));
    u32(0);
    at(thumbAt, static_cast<uint32_t>(t.size()));
    t += exif.thumbnail;
    return std::string("Exif\0\0", 6) + t;
}

std::vector<uint8_t> InsertJpegSegment(const std::vector<uint8_t> &jpeg, uint8_t marker,
                                       const std::string &payload)
{
    const size_t length = payload.size() + 2;
    // After SOI and the first segment (the JFIF APP0 the engine writes).
    const size_t insertAt = 4 + (size_t(jpeg.at(4)) << 8 | jpeg.at(5));
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(insertAt));
    out.insert(out.end(), {0xFF, marker, uint8_t(length >> 8), uint8_t(length)});
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(insertAt), jpeg.end());
    return out;
}
