// The capture date read for file names: every format that carries EXIF, the container layouts
// the engine's writers do not make, values that are no date, and files built or cut to break
// the walks.

#include "codecsuite.h"

#include <functional>
#include <sys/stat.h>
#include <zlib.h>

namespace {
using namespace codectest;
using namespace std::string_literals;

const std::string kDate = "2024:05:06 07:08:09";

std::string ExifWithDate(const std::string &date, bool bigEndian = false)
{
    TestExif fields;
    fields.date = date;
    fields.bigEndian = bigEndian;
    fields.pixelWidth = 16;
    fields.pixelHeight = 12;
    return MakeExifBlock(fields);
}

// What the engine's writer makes of a small picture carrying exif ("" for none).
std::vector<uint8_t> Written(uint32_t format, const std::string &exif)
{
    PxImage img = Gradient(16, 12);
    if (!exif.empty()) {
        auto metadata = std::make_shared<PxMetadata>();
        metadata->exif = exif;
        img.SetMetadata(metadata);
    }
    return EncodeToMemory(img, format);
}

std::string DateOf(const std::vector<uint8_t> &bytes)
{
    PxMemFile file(bytes.data(), bytes.size());
    return PxReadCaptureDate(file);
}

std::vector<uint8_t> Bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::string Text(const std::vector<uint8_t> &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Be32(uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string Le32(uint32_t v)
{
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// The little-endian block with the 4 bytes after the first occurrence of `entry` replaced.
std::string Patched(std::string block, const std::string &entry, size_t skip,
                    const std::string &with)
{
    const size_t at = block.find(entry);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos)
        block.replace(at + skip, with.size(), with);
    return block;
}

// --- containers, taken apart and put together again -------------------------------------------

struct Chunk {
    std::string type;
    std::string data;
    bool badCrc = false;
};

std::vector<Chunk> PngChunks(const std::vector<uint8_t> &png)
{
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        chunks.push_back({Text({png.begin() + long(at) + 4, png.begin() + long(at) + 8}),
                          Text({png.begin() + long(at) + 8, png.begin() + long(at + 8 + length)})});
        at += 12 + length;
    }
    return chunks;
}

std::vector<uint8_t> Png(const std::vector<Chunk> &chunks)
{
    std::string out("\x89PNG\r\n\x1A\n", 8);
    for (const Chunk &c : chunks) {
        const std::string body = c.type + c.data;
        const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size())));
        out += Be32(uint32_t(c.data.size())) + body + Be32(c.badCrc ? ~crc : crc);
    }
    return Bytes(out);
}

// The chunks with `extra` put in front of the chunk of type `before`.
std::vector<Chunk> InsertedBefore(std::vector<Chunk> chunks, const std::string &before,
                                  const std::vector<Chunk> &extra)
{
    for (size_t i = 0; i < chunks.size(); ++i)
        if (chunks[i].type == before) {
            chunks.insert(chunks.begin() + long(i), extra.begin(), extra.end());
            break;
        }
    return chunks;
}

// RIFF chunks of a WebP file behind its 12-byte header.
std::vector<Chunk> RiffChunks(const std::vector<uint8_t> &webp)
{
    std::vector<Chunk> chunks;
    for (size_t at = 12; at + 8 <= webp.size();) {
        const uint32_t size = webp[at + 4] | webp[at + 5] << 8 | webp[at + 6] << 16 | uint32_t(webp[at + 7]) << 24;
        chunks.push_back({Text({webp.begin() + long(at), webp.begin() + long(at) + 4}),
                          Text({webp.begin() + long(at) + 8, webp.begin() + long(at + 8 + size)})});
        at += 8 + size + (size & 1);
    }
    return chunks;
}

// riffSize 0: the size of what follows.
std::vector<uint8_t> Webp(const std::vector<Chunk> &chunks, uint32_t riffSize = 0)
{
    std::string body = "WEBP";
    for (const Chunk &c : chunks) {
        body += c.type + Le32(uint32_t(c.data.size())) + c.data;
        if (c.data.size() % 2)
            body += '\0';
    }
    return Bytes("RIFF" + Le32(riffSize ? riffSize : uint32_t(body.size())) + body);
}

enum class BoxSize { Plain, Large, ToEnd };
struct Box {
    std::string type;
    std::string payload;
    BoxSize size = BoxSize::Plain;
};

std::vector<Box> IsoBoxes(const std::vector<uint8_t> &file)
{
    std::vector<Box> boxes;
    for (size_t at = 0; at + 8 <= file.size();) {
        uint64_t size = uint32_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        size_t head = 8;
        if (size == 1) {
            size = 0;
            for (size_t i = 0; i < 8; ++i)
                size = size << 8 | file[at + 8 + i];
            head = 16;
        } else if (size == 0) {
            size = file.size() - at;
        }
        boxes.push_back({Text({file.begin() + long(at) + 4, file.begin() + long(at) + 8}),
                         Text({file.begin() + long(at + head), file.begin() + long(at + size)})});
        at += size_t(size);
    }
    return boxes;
}

std::vector<uint8_t> Iso(const std::vector<Box> &boxes)
{
    std::string out;
    for (const Box &b : boxes) {
        if (b.size == BoxSize::Large)
            out += Be32(1) + b.type + Be32(0) + Be32(uint32_t(b.payload.size() + 16));
        else
            out += Be32(b.size == BoxSize::ToEnd ? 0 : uint32_t(b.payload.size() + 8)) + b.type;
        out += b.payload;
    }
    return Bytes(out);
}

// The file's boxes with every "Exif" box replaced by what make() gives for its payload.
std::vector<Box> WithExifBox(const std::vector<uint8_t> &jxl,
                             const std::function<std::vector<Box>(const Box &)> &make)
{
    std::vector<Box> out;
    for (const Box &b : IsoBoxes(jxl)) {
        if (b.type != "Exif") {
            out.push_back(b);
            continue;
        }
        for (const Box &made : make(b))
            out.push_back(made);
    }
    return out;
}

std::vector<Box> WithoutExifBox(const std::vector<uint8_t> &jxl, Box *exif)
{
    std::vector<Box> out;
    for (const Box &b : IsoBoxes(jxl)) {
        if (b.type == "Exif")
            *exif = b;
        else
            out.push_back(b);
    }
    return out;
}

// Reads from memory and counts what is read.
class CountingFile : public PxMemFile {
public:
    using PxMemFile::PxMemFile;
    size_t Read(void *buffer, size_t size, size_t count) override
    {
        const size_t got = PxMemFile::Read(buffer, size, count);
        bytes += got * size;
        return got;
    }
    int GetC() override
    {
        const int c = PxMemFile::GetC();
        bytes += c >= 0 ? 1 : 0;
        return c;
    }
    uint64_t bytes = 0;
};

const uint32_t kExifFormats[] = {PXFORMAT_JPG, PXFORMAT_PNG, PXFORMAT_TIF, PXFORMAT_WEBP,
                                 PXFORMAT_HEIC, PXFORMAT_AVIF, PXFORMAT_JXL};

TEST(CaptureDate, EveryFormatThatCarriesExifGivesItsDateWhateverTheName)
{
    TempFolder temp;
    for (uint32_t format : kExifFormats)
        for (bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(PxFindFormat(format)->name) + (bigEndian ? " MM" : " II"));
            const auto bytes = Written(format, ExifWithDate(kDate, bigEndian));
            // An extension that names another format: the content decides.
            const auto file = temp.Fs("shot.gif");
            WriteFileBytes(file, bytes);
            EXPECT_EQ(PxReadCaptureDate(file), kDate);
            EXPECT_EQ(DateOf(bytes), kDate);
            EXPECT_EQ(DateOf(Written(format, "")), "") << "no EXIF at all";
            // A block whose EXIF directory holds other dates but not DateTimeOriginal.
            const std::string digitized = ExifWithDate(kDate, bigEndian);
            const std::string tag = bigEndian ? std::string("\x90\x03\0\x02", 4) : std::string("\x03\x90\x02\0", 4);
            const std::string renamed = bigEndian ? std::string("\x90\x04", 2) : std::string("\x04\x90", 2);
            EXPECT_EQ(DateOf(Written(format, Patched(digitized, tag, 0, renamed))), "");
        }
}

TEST(CaptureDate, StreamFormReadsFromWhereTheStreamStands)
{
    std::vector<uint8_t> bytes(100, 'x');
    const auto png = Written(PXFORMAT_PNG, ExifWithDate(kDate));
    bytes.insert(bytes.end(), png.begin(), png.end());
    PxMemFile file(bytes.data(), bytes.size());
    ASSERT_TRUE(file.Seek(100, SEEK_SET));
    EXPECT_EQ(PxReadCaptureDate(file), kDate);
}

TEST(CaptureDate, ValuesThatAreNoDateGiveNothing)
{
    const auto jpeg = Written(PXFORMAT_JPG, "");
    const struct {
        std::string value;
        bool isDate;
    } cases[] = {
        {"2024:05:06 07:08:09", true},
        {"1999:12:31 23:59:59", true},
        {"2000:01:01 00:00:00", true},
        {"0001:01:01 00:00:00", true},
        {"0000:00:00 00:00:00", false},
        {"0000:01:01 00:00:00", false},
        {"    :  :     :  :  ", false},
        {"", false},
        {"2024:13:06 07:08:09", false},
        {"2024:00:06 07:08:09", false},
        {"2024:05:00 07:08:09", false},
        {"2024:05:32 07:08:09", false},
        {"2024:05:06 24:08:09", false},
        {"2024:05:06 07:60:09", false},
        {"2024:05:06 07:08:60", false},
        {"2024-05-06 07:08:09", false},
        {"2024:05:06T07:08:09", false},
        {"2024:5:06 07:08:09", false},
        {"2024:05:06 07:08", false},
        {"2024:05:06 07:08:09 ", false},
        {"2024:05:06 07:08:09Z", false},
        {"+024:05:06 07:08:09", false},
        {"2024:05:06 07:08:0\xB9", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("'" + c.value + "'");
        EXPECT_EQ(DateOf(InsertJpegSegment(jpeg, 0xE1, ExifWithDate(c.value))), c.isDate ? c.value : "");
    }
}

TEST(CaptureDate, BrokenExifBlocksGiveNothing)
{
    const auto jpeg = Written(PXFORMAT_JPG, "");
    const std::string block = ExifWithDate(kDate);
    const std::string link("\x69\x87\x04\0\x01\0\0\0", 8);
    const std::string date("\x03\x90\x02\0", 4);
    const struct {
        const char *name;
        std::string block;
    } cases[] = {
        {"EXIF directory outside the block", Patched(block, link, 8, Le32(0xFFFFFF00))},
        {"EXIF directory at the block's very end", Patched(block, link, 8, Le32(uint32_t(block.size() - 8)))},
        {"two links to the EXIF directory", Patched(block, link, 4, Le32(2))},
        {"date stored outside the block", Patched(block, date, 8, Le32(0x7FFFFFF0))},
        {"date with an impossible count", Patched(block, date, 4, Le32(0xFFFFFFFF))},
        {"date as a number", Patched(block, date, 2, std::string("\x03\0", 2))},
        {"date ending on the block's last byte", block.substr(0, block.find(kDate) + kDate.size())},
        {"no TIFF header", block.substr(0, 10)},
        {"not EXIF", "Exig" + block.substr(4)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DateOf(InsertJpegSegment(jpeg, 0xE1, c.block)), "");
    }
}

TEST(CaptureDate, ContainerLayoutsTheWritersDoNotMake)
{
    const std::string block = ExifWithDate(kDate);
    const std::string tiff = block.substr(6);

    const auto jpeg = Written(PXFORMAT_JPG, "");
    const std::string xmp = std::string("http://ns.adobe.com/xap/1.0/\0", 29) + "<x:xmpmeta/>";
    auto withFill = InsertJpegSegment(jpeg, 0xE1, block);
    const size_t afterApp0 = 4 + (size_t(jpeg[4]) << 8 | jpeg[5]);
    withFill.insert(withFill.begin() + long(afterApp0), {0xFF, 0xFF});
    auto afterScan = jpeg;
    const std::string trailing = std::string("\xFF\xE1", 2) + char((block.size() + 2) >> 8) + char(block.size() + 2) + block;
    afterScan.insert(afterScan.end() - 2, trailing.begin(), trailing.end());

    const auto plainPng = PngChunks(Written(PXFORMAT_PNG, ""));
    std::vector<Chunk> pngAfterIdat = plainPng;
    pngAfterIdat.insert(pngAfterIdat.end() - 1, {"eXIf", tiff});
    std::vector<Chunk> pngAfterIend = plainPng;
    pngAfterIend.push_back({"eXIf", tiff});
    std::vector<Chunk> manyChunks(3000, Chunk{"prIv", ""});
    manyChunks.push_back({"eXIf", tiff});

    const auto webp = Written(PXFORMAT_WEBP, block);
    std::vector<Chunk> webpPrefixed = RiffChunks(webp);
    for (Chunk &c : webpPrefixed)
        if (c.type == "EXIF")
            c.data = block;
    const auto webpChunks = RiffChunks(webp);
    ASSERT_EQ(webpChunks.back().type, "EXIF");
    const uint32_t withoutExif = uint32_t(webp.size() - 8 - 8 - webpChunks.back().data.size() - (webpChunks.back().data.size() % 2));

    const auto jxl = Written(PXFORMAT_JXL, block);
    const std::string zero("\0\0\0\0", 4);
    Box exifBox;
    const std::vector<Box> jxlRest = WithoutExifBox(jxl, &exifBox);
    ASSERT_EQ(exifBox.type, "Exif");
    std::vector<Box> exifLast = jxlRest;
    exifLast.push_back({"Exif", exifBox.payload, BoxSize::ToEnd});
    std::vector<Box> exifLarge = jxlRest;
    exifLarge.push_back({"Exif", exifBox.payload, BoxSize::Large});

    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
        bool dated;
    } cases[] = {
        {"JPEG: XMP segment first", InsertJpegSegment(InsertJpegSegment(jpeg, 0xE1, block), 0xE1, xmp), true},
        {"JPEG: fill bytes before the EXIF segment", withFill, true},
        {"JPEG: EXIF segment only after the scan", afterScan, false},
        {"PNG: eXIf behind the picture data", Png(pngAfterIdat), true},
        {"PNG: eXIf behind IEND", Png(pngAfterIend), false},
        {"PNG: eXIf with JPEG's header", Png(InsertedBefore(plainPng, "IEND", {{"eXIf", block}})), true},
        {"PNG: eXIf with a wrong checksum", Png(InsertedBefore(plainPng, "IEND", {{"eXIf", tiff, true}})), false},
        {"PNG: thousands of empty chunks first", Png(InsertedBefore(plainPng, "IEND", manyChunks)), true},
        {"PNG: empty eXIf", Png(InsertedBefore(plainPng, "IEND", {{"eXIf", ""}})), false},
        {"WebP: EXIF chunk with JPEG's header", Webp(webpPrefixed), true},
        {"WebP: EXIF chunk behind the RIFF size", Webp(webpChunks, withoutExif), false},
        {"JPEG XL: EXIF box last, to the end of the file", Iso(exifLast), true},
        {"JPEG XL: EXIF box with a 64-bit size", Iso(exifLarge), true},
        {"JPEG XL: TIFF header behind an offset",
         Iso(WithExifBox(jxl, [&](const Box &) { return std::vector<Box>{{"Exif", Be32(6) + "Exif\0\0"s + tiff}}; })), true},
        {"JPEG XL: offset past the box",
         Iso(WithExifBox(jxl, [&](const Box &) { return std::vector<Box>{{"Exif", Be32(0x7FFFFFFF) + tiff}}; })), false},
        {"JPEG XL: box shorter than its offset",
         Iso(WithExifBox(jxl, [&](const Box &) { return std::vector<Box>{{"Exif", zero.substr(0, 3)}}; })), false},
        {"JPEG XL: compressed EXIF box",
         Iso(WithExifBox(jxl, [&](const Box &b) { return std::vector<Box>{{"brob", "Exif" + b.payload}}; })), false},
        {"JPEG XL: EXIF box behind one that spans the rest",
         Iso(WithExifBox(jxl, [&](const Box &b) { return std::vector<Box>{{"free", "", BoxSize::ToEnd}, b}; })), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DateOf(c.bytes), c.dated ? kDate : "");
    }
}

TEST(CaptureDate, ClaimedSizesBeyondTheFileGiveNothing)
{
    const std::string block = ExifWithDate(kDate);
    const std::string tiff = block.substr(6);

    // A JPEG segment whose length runs past the end.
    auto jpeg = InsertJpegSegment(Written(PXFORMAT_JPG, ""), 0xE1, block);
    const size_t app1 = 4 + (size_t(jpeg[4]) << 8 | jpeg[5]);
    auto jpegLong = jpeg;
    jpegLong[app1 + 2] = 0xFF, jpegLong[app1 + 3] = 0xFF;
    jpegLong.resize(app1 + 4 + block.size());
    auto jpegShort = jpeg;
    jpegShort[app1 + 2] = 0, jpegShort[app1 + 3] = 1;

    // A PNG chunk length beyond the format's 31 bits, and one beyond the file, behind the
    // picture data where only the walk looks.
    auto png = Png(InsertedBefore(PngChunks(Written(PXFORMAT_PNG, "")), "IEND", {{"eXIf", tiff}}));
    const size_t exifAt = Text(png).find("eXIf") - 4;
    auto pngHuge = png;
    pngHuge[exifAt] = 0xFF;
    auto pngPast = png;
    pngPast[exifAt] = 0x01;

    // A RIFF chunk size near 4 GB.
    auto webp = Written(PXFORMAT_WEBP, block);
    const size_t chunkAt = Text(webp).rfind("EXIF");
    auto webpHuge = webp;
    for (int i = 4; i < 8; ++i)
        webpHuge[chunkAt + size_t(i)] = 0xFF;

    // A JPEG XL box with a 64-bit size of 2^63, and one shorter than its own header.
    const auto jxl = Written(PXFORMAT_JXL, block);
    Box exif;
    std::vector<Box> rest = WithoutExifBox(jxl, &exif);
    std::string jxlHuge = Text(Iso(rest)) + Be32(1) + "Exif" + Be32(0x80000000) + Be32(0) + exif.payload;
    std::string jxlTiny = Text(Iso(rest)) + Be32(4) + "free" + Text(Iso({exif}));

    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"JPEG segment past the end", jpegLong},
        {"JPEG segment shorter than its length field", jpegShort},
        {"PNG chunk beyond 31 bits", pngHuge},
        {"PNG chunk past the end", pngPast},
        {"WebP chunk of 4 GB", webpHuge},
        {"JPEG XL box of 2^63 bytes", Bytes(jxlHuge)},
        {"JPEG XL box shorter than its header", Bytes(jxlTiny)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DateOf(c.bytes), "");
    }
}

// Each format's file cut short anywhere: never a crash, never part of a date, and nothing at
// all while the date itself is cut off.
TEST(CaptureDate, CutFilesGiveTheWholeDateOrNothing)
{
    for (uint32_t format : kExifFormats) {
        SCOPED_TRACE(PxFindFormat(format)->name);
        const auto bytes = Written(format, ExifWithDate(kDate));
        const size_t dateAt = Text(bytes).find(kDate);
        ASSERT_NE(dateAt, std::string::npos);
        const size_t dateEnd = dateAt + kDate.size();
        for (size_t cut = 0; cut < bytes.size(); cut += cut < dateEnd + 64 ? 1 : 7) {
            const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + long(cut));
            const std::string date = DateOf(part);
            if (cut < dateEnd)
                ASSERT_EQ(date, "") << "cut at " << cut;
            else
                ASSERT_TRUE(date.empty() || date == kDate) << "cut at " << cut << ": " << date;
        }
    }
}

TEST(CaptureDate, ReadsStayWithinAFewMegabytes)
{
    const std::string block = ExifWithDate(kDate);
    const std::string tiff = block.substr(6);
    // Behind 48 MB of chunks: found by skipping them, not reading them.
    std::vector<Chunk> filler(48, Chunk{"prIv", std::string(1 << 20, 'p')});
    filler.push_back({"eXIf", tiff});
    const auto png = Png(InsertedBefore(PngChunks(Written(PXFORMAT_PNG, "")), "IEND", filler));
    CountingFile pngFile(png.data(), png.size());
    EXPECT_EQ(PxReadCaptureDate(pngFile), kDate);
    EXPECT_LT(pngFile.bytes, 256u * 1024);

    // An EXIF box of 24 MB, behind the picture: passed over unread.
    Box exif;
    std::vector<Box> boxes = WithoutExifBox(Written(PXFORMAT_JXL, block), &exif);
    boxes.push_back({"Exif", exif.payload + std::string(24 << 20, 'x')});
    const auto jxl = Iso(boxes);
    CountingFile jxlFile(jxl.data(), jxl.size());
    EXPECT_EQ(PxReadCaptureDate(jxlFile), "");
    EXPECT_LT(jxlFile.bytes, 256u * 1024);
}

TEST(CaptureDate, WhatIsNoPictureFileGivesNothing)
{
    TempFolder temp;
    WriteFileBytes(temp.Fs("empty"), {});
    WriteFileBytes(temp.Fs("text"), Bytes("2024:05:06 07:08:09 is not a picture"));
    WriteFileBytes(temp.Fs("bmp"), Written(PXFORMAT_BMP, ""));
    // A picture format without EXIF, with a block that looks like one after its end.
    auto gif = Written(PXFORMAT_GIF, "");
    const std::string block = ExifWithDate(kDate);
    gif.insert(gif.end(), block.begin(), block.end());
    WriteFileBytes(temp.Fs("gif"), gif);
    ASSERT_EQ(::mkfifo(temp.Fs("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(temp.Fs("folder"));
    // A folder whose name says JPEG.
    std::filesystem::create_directory(temp.Fs("folder.jpg"));
    for (const char *name : {"empty", "text", "bmp", "gif", "fifo", "folder", "folder.jpg", "missing"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(PxReadCaptureDate(temp.Fs(name)), "");
    }
}

// Photos from cameras and other writers, as Pillow reads their DateTimeOriginal.
TEST(CaptureDate, PublicSuitesAgreeWithPillow)
{
    PX_REQUIRE_TESTDATA();
    const std::string listed = Python(
        "import csv, os, re, sys, warnings\n"
        "from PIL import Image\n"
        "warnings.simplefilter('ignore')\n"
        "os.dup2(os.open(os.devnull, os.O_WRONLY), 2)\n"
        "root = sys.argv[1]\n"
        "for row in csv.DictReader(open(os.path.join(root, 'manifest.tsv')), delimiter='\\t'):\n"
        "    if row['format'] not in ('jpeg', 'png', 'tiff'):\n"
        "        continue\n"
        "    date = ''\n"
        "    try:\n"
        "        with Image.open(os.path.join(root, row['path'])) as im:\n"
        "            value = im.getexif().get_ifd(0x8769).get(0x9003)\n"
        "        if isinstance(value, str) and re.fullmatch(r'\\d{4}:\\d\\d:\\d\\d \\d\\d:\\d\\d:\\d\\d', value):\n"
        "            date = value\n"
        "    except Exception:\n"
        "        pass\n"
        "    print(row['path'] + '\\t' + date)\n",
        {TestDataDir().string()});
    std::istringstream lines(listed);
    size_t files = 0, dated = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string path = line.substr(0, tab), date = line.substr(tab + 1);
        EXPECT_EQ(PxReadCaptureDate(TestDataDir() / path), date) << path;
        ++files;
        dated += !date.empty();
    }
    EXPECT_GT(files, 300u);
    EXPECT_GE(dated, 3u);
}

} // namespace
