// EXIF and XMP through the JPEG, PNG and TIFF codecs, the orientation they carry, removing
// where a picture was taken, and EXIF blocks built to break the readers.

#include "codecsuite.h"
#include "engine/pxexif_p.h"

#include <tiffio.h>

namespace {
using namespace codectest;

const std::string kXmp =
    "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
    " <rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
    "  <rdf:Description rdf:about=''\n"
    "    xmlns:xmp='http://ns.adobe.com/xap/1.0/'\n"
    "    xmlns:exif='http://ns.adobe.com/exif/1.0/'\n"
    "    xmlns:ps='http://ns.adobe.com/photoshop/1.0/'\n"
    "    xmlns:dc='http://purl.org/dc/elements/1.1/'\n"
    "    xmlns:Iptc4xmpCore='http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/'\n"
    "    xmlns:Iptc4xmpExt='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'\n"
    "    xmlns:drone-dji='http://www.dji.com/drone-dji/1.0/'\n"
    "    xmp:CreateDate='2024-05-06T07:08:09'\n"
    "    exif:GPSLatitude=\"48,51.5N\" ps:City='Secretville' exif:ExposureTime='1/250'\n"
    "    drone-dji:GpsLongitude='+2.29'\n"
    "    Iptc4xmpCore:Location='Secret Street'>\n"
    "   <exif:GPSLongitude>2,17.6E</exif:GPSLongitude>\n"
    "   <ps:Country>Secretland</ps:Country>\n"
    "   <dc:creator><rdf:Seq><rdf:li>Jane Doe</rdf:li></rdf:Seq></dc:creator>\n"
    "   <Iptc4xmpExt:LocationShown><rdf:Bag><rdf:li rdf:parseType='Resource'>\n"
    "    <Iptc4xmpExt:City>Secretville</Iptc4xmpExt:City>\n"
    "   </rdf:li></rdf:Bag></Iptc4xmpExt:LocationShown>\n"
    "   <exif:GPSAltitude/>\n"
    "  </rdf:Description>\n"
    " </rdf:RDF>\n"
    "</x:xmpmeta>\n"
    "<?xpacket end='w'?>";

bool Contains(const std::string &haystack, const std::string &needle)
{
    return haystack.find(needle) != std::string::npos;
}

TestExif CameraFields()
{
    TestExif fields;
    fields.orientation = 6;
    fields.pixelWidth = 40;
    fields.pixelHeight = 24;
    fields.exposure = true;
    fields.gps = true;
    return fields;
}

// Pillow's reading of the file's EXIF: camera, date, orientation, exposure and GPS latitude.
std::string PillowExif(const std::filesystem::path &file)
{
    return Python("import sys\n"
                  "from PIL import Image\n"
                  "im = Image.open(sys.argv[1])\n"
                  "e = im.getexif(); sub = e.get_ifd(0x8769); gps = e.get_ifd(0x8825)\n"
                  "r = lambda v: None if v is None else round(float(v), 6)\n"
                  "print(e.get(0x10F), e.get(0x110), e.get(0x112), sub.get(0x9003),\n"
                  "      r(sub.get(0x829A)), r(sub.get(0x829D)), gps.get(1), gps.get(2))\n",
                  {file.string()});
}

TEST(Metadata, ExifAndXmpTravelThroughJpegPngAndTiff)
{
    const TestExif fields = CameraFields();
    const std::string exif = MakeExifBlock(fields);
    for (uint32_t format : {PXFORMAT_JPG, PXFORMAT_PNG, PXFORMAT_TIF}) {
        SCOPED_TRACE(format);
        PxImage src = Gradient(40, 24);
        auto metadata = std::make_shared<PxMetadata>();
        metadata->exif = pxexif::WithoutThumbnail(exif);
        metadata->xmp = kXmp;
        src.SetMetadata(metadata);
        TempFolder temp;
        const auto file = temp.Fs("out");
        WriteFileBytes(file, EncodeToMemory(src, format));

        EXPECT_EQ(PillowExif(file), fields.make + " " + fields.model + " 6 " + fields.date +
                                        " 0.004 2.8 N (48.0, 51.0, 30.0)\n");
        PxImage back;
        back.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeFile(file, format, back)) << back.GetLastError();
        ASSERT_NE(back.GetMetadata(), nullptr);
        EXPECT_EQ(back.GetMetadata()->xmp, kXmp);
        EXPECT_EQ(back.GetExifOrientation(), 6u);
        const std::string &kept = back.GetMetadata()->exif;
        EXPECT_EQ(pxexif::ReadOrientation(reinterpret_cast<const uint8_t *>(kept.data()), kept.size()),
                  6u);
        std::map<uint16_t, std::string> text;
        for (const pxexif::Field &f : pxexif::ReadFields(kept, 0))
            if (f.type == 2)
                text[f.tag] = f.Text();
        EXPECT_EQ(text[0x010F], fields.make);
        EXPECT_EQ(text[0x0110], fields.model);
        std::map<uint16_t, pxexif::Field> sub;
        for (const pxexif::Field &f : pxexif::ReadFields(kept, pxexif::kExifDirectory))
            sub[f.tag] = f;
        EXPECT_EQ(sub[0x9003].Text(), fields.date);
        EXPECT_NEAR(sub[0x829A].Number(), 0.004, 1e-6);
        EXPECT_EQ(sub[0xA002].Integer(), 40);
        EXPECT_EQ(sub[0xA003].Integer(), 24);
        EXPECT_EQ(pxexif::ReadFields(kept, pxexif::kGpsDirectory).size(), 6u);

        // Without keeping, the orientation is still known, and nothing else is kept.
        PxImage plain;
        ASSERT_TRUE(DecodeFile(file, format, plain));
        EXPECT_EQ(plain.GetMetadata(), nullptr);
        EXPECT_EQ(plain.GetExifOrientation(), 6u);
    }
}

TEST(Metadata, PngAndTiffOrientationIsHonouredByAutoOrient)
{
    for (uint32_t format : {PXFORMAT_PNG, PXFORMAT_TIF}) {
        SCOPED_TRACE(format);
        PxImage src = Gradient(40, 24);
        auto metadata = std::make_shared<PxMetadata>();
        metadata->exif = MakeExifBlock(CameraFields());
        src.SetMetadata(metadata);
        const auto bytes = EncodeToMemory(src, format);
        PxImage img;
        ASSERT_TRUE(DecodeMemory(bytes, format, img));
        EXPECT_EQ(img.GetWidth(), 40u) << "the rows stay as stored";
        EXPECT_EQ(img.GetExifOrientation(), 6u);
        ASSERT_TRUE(img.AutoOrient());
        EXPECT_EQ(img.GetWidth(), 24u);
        EXPECT_EQ(img.GetHeight(), 40u);
        // Turned once: written again, it states that it stands upright.
        PxImage again;
        ASSERT_TRUE(DecodeMemory(EncodeToMemory(img, format), format, again));
        EXPECT_EQ(again.GetWidth(), 24u);
        EXPECT_LE(again.GetExifOrientation(), 1u);
    }
    // Files another writer made: Pillow's eXIf chunk and TIFF Orientation tag.
    TempFolder temp;
    const auto png = temp.Fs("pillow.png"), tif = temp.Fs("pillow.tif");
    Python("import sys\n"
           "from PIL import Image\n"
           "im = Image.new('RGB', (30, 20), (200, 10, 10))\n"
           "e = Image.Exif(); e[0x112] = 8; e[0x110] = 'Elsewhere'\n"
           "im.save(sys.argv[1], exif=e)\n"
           "im.save(sys.argv[2], tiffinfo={0x112: 5})\n",
           {png.string(), tif.string()});
    for (const auto &[file, orientation] : {std::pair{png, 8u}, {tif, 5u}}) {
        PxImage img;
        img.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeFile(file, PXFORMAT_UNKNOWN, img)) << file;
        EXPECT_EQ(img.GetExifOrientation(), orientation) << file;
        ASSERT_NE(img.GetMetadata(), nullptr);
        const std::string &exif = img.GetMetadata()->exif;
        EXPECT_EQ(pxexif::ReadOrientation(reinterpret_cast<const uint8_t *>(exif.data()), exif.size()),
                  orientation);
        ASSERT_TRUE(img.AutoOrient());
        EXPECT_EQ(img.GetWidth(), 20u);
    }
}

TEST(Metadata, StripLocationRemovesGpsAndXmpLocationOnly)
{
    const TestExif fields = CameraFields();
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "Motorola order" : "Intel order");
        TestExif f = fields;
        f.bigEndian = bigEndian;
        PxImage img;
        img.SetKeepMetadata(true);
        const auto jpeg =
            InsertJpegSegment(EncodeToMemory(*std::make_unique<PxImage>(Gradient(40, 24)), PXFORMAT_JPG),
                              0xE1, MakeExifBlock(f));
        ASSERT_TRUE(DecodeMemory(InsertJpegSegment(jpeg, 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + kXmp),
                                 PXFORMAT_JPG, img));
        ASSERT_NE(img.GetMetadata(), nullptr);
        const auto before = img.GetMetadata();
        ASSERT_TRUE(Contains(before->exif, f.gpsMethod));
        ASSERT_EQ(before->xmp, kXmp);
        img.StripLocation();
        EXPECT_TRUE(Contains(before->exif, f.gpsMethod)) << "shared metadata is not changed";
        const std::string &exif = img.GetMetadata()->exif;
        EXPECT_EQ(exif.size(), before->exif.size()) << "nothing moves";
        EXPECT_FALSE(Contains(exif, f.gpsMethod));
        EXPECT_TRUE(pxexif::ReadFields(exif, pxexif::kGpsDirectory).empty());
        const std::string xmp = img.GetMetadata()->xmp;
        for (const char *gone : {"GPS", "Gps", "Secret", "Location"})
            EXPECT_FALSE(Contains(xmp, gone)) << gone << "\n" << xmp;
        for (const char *kept : {"Jane Doe", "xmp:CreateDate='2024-05-06T07:08:09'",
                                 "exif:ExposureTime='1/250'", "xpacket end='w'"})
            EXPECT_TRUE(Contains(xmp, kept)) << kept << "\n" << xmp;

        TempFolder temp;
        const auto file = temp.Fs("stripped.jpg");
        WriteFileBytes(file, EncodeToMemory(img, PXFORMAT_JPG));
        EXPECT_EQ(PillowExif(file), f.make + " " + f.model + " 6 " + f.date + " 0.004 2.8 None None\n");
        // What is left is still XML.
        const auto xml = temp.Fs("left.xmp");
        WriteFileBytes(xml, std::vector<uint8_t>(xmp.begin(), xmp.end()));
        EXPECT_EQ(Python("import sys, xml.dom.minidom\n"
                         "d = xml.dom.minidom.parse(sys.argv[1])\n"
                         "print(d.getElementsByTagName('rdf:li')[0].firstChild.data)\n",
                         {xml.string()}),
                  "Jane Doe\n");
    }
}

TEST(Metadata, XmpThatCannotBeCutCleanlyIsDropped)
{
    const std::pair<const char *, std::string> cases[] = {
        {"element never closed", "<r><exif:GPSLatitude>48N</r>"},
        {"value never ends", "<r exif:GPSLatitude='48N/>"},
        {"comment never ends", "<r><!-- exif:GPSLatitude='48N'"},
        {"attribute without value", "<r exif:GPSLatitude/>"},
    };
    for (const auto &[name, xmp] : cases)
        EXPECT_EQ(pxexif::XmpWithoutLocation(xmp), "") << name;
    // Prefixes bound to the location namespaces count, whatever they are called; the same
    // names in other namespaces stay.
    EXPECT_EQ(pxexif::XmpWithoutLocation(
                  "<d xmlns:p=\"http://ns.adobe.com/photoshop/1.0/\" p:City='X' q:City='Y'/>"),
              "<d xmlns:p=\"http://ns.adobe.com/photoshop/1.0/\" q:City='Y'/>");
    EXPECT_EQ(pxexif::XmpWithoutLocation("plain <![CDATA[ <exif:GPS> ]]> text"),
              "plain <![CDATA[ <exif:GPS> ]]> text");
    // Nested elements of the same name close where the outer one does.
    EXPECT_EQ(pxexif::XmpWithoutLocation(
                  "<a><Iptc4xmpExt:LocationShown><Iptc4xmpExt:LocationShown/>"
                  "<Iptc4xmpExt:LocationShown>x</Iptc4xmpExt:LocationShown>"
                  "</Iptc4xmpExt:LocationShown><b/></a>"),
              "<a><b/></a>");
}

// Every reader and mender of EXIF blocks, on blocks cut short at every length, with offsets
// beyond their end and with directories that point at each other.
TEST(Metadata, HostileExifBlocksNeverCrash)
{
    TestExif fields = CameraFields();
    const std::string good = MakeExifBlock(fields);
    std::vector<std::string> blocks;
    for (size_t cut = 0; cut <= good.size(); cut += 3)
        blocks.push_back(good.substr(0, cut));
    // Each 32-bit field in turn made huge, then made to point at IFD0 or at itself.
    for (size_t at = 6 + 8; at + 4 <= good.size() && at < 6 + 400; at += 2) {
        for (const std::string value : {std::string("\xF0\xFF\xFF\x7F", 4), std::string("\x08\0\0\0", 4),
                                        std::string(1, char(at - 6)) + std::string("\0\0\0", 3)}) {
            std::string b = good;
            b.replace(at, 4, value);
            blocks.push_back(b);
        }
    }
    for (const std::string &block : blocks) {
        const auto *data = reinterpret_cast<const uint8_t *>(block.data());
        pxexif::ReadOrientation(data, block.size());
        int32_t x = 0, y = 0;
        pxexif::ReadResolution(data, block.size(), &x, &y);
        std::string copy = block;
        pxexif::SetPixelSize(copy, 9, 9);
        pxexif::SetOrientation(copy, 1);
        EXPECT_EQ(pxexif::WithoutLocation(block).size(), block.size());
        pxexif::WithoutThumbnail(block);
        for (uint16_t directory : {uint16_t(0), pxexif::kExifDirectory, pxexif::kGpsDirectory})
            for (const pxexif::Field &f : pxexif::ReadFields(block, directory)) {
                f.Text();
                f.Number(f.count - 1);
            }
    }
    // And through every writer, with the location stripped on the way.
    PxImage src = Gradient(8, 8);
    for (size_t i = 0; i < blocks.size(); i += 7) {
        auto metadata = std::make_shared<PxMetadata>();
        metadata->exif = blocks[i];
        src.SetMetadata(metadata);
        src.StripLocation();
        for (uint32_t format : {PXFORMAT_JPG, PXFORMAT_PNG, PXFORMAT_TIF}) {
            PxMemFile mem;
            EXPECT_TRUE(src.Encode(mem, format)) << src.GetLastError();
            PxImage back;
            back.SetKeepMetadata(true);
            EXPECT_TRUE(DecodeMemory(mem.Buffer(), format, back)) << back.GetLastError();
        }
    }
}

// A TIFF's own directories as the EXIF block is built from them: loops, offsets beyond the
// file and oversized counts leave the block out or short, never the reader hanging or reading
// out of bounds.
TEST(Metadata, TiffDirectoriesBecomeAnExifBlockSafely)
{
    PxImage src = Gradient(8, 8);
    auto metadata = std::make_shared<PxMetadata>();
    metadata->exif = MakeExifBlock(CameraFields());
    src.SetMetadata(metadata);
    src.SetCodecOption(5);
    const auto tiff = EncodeToMemory(src, PXFORMAT_TIF);
    auto reader = [](const std::vector<uint8_t> &bytes) {
        return [&bytes](uint64_t offset, void *out, size_t size) {
            if (offset > bytes.size() || size > bytes.size() - offset)
                return false;
            std::memcpy(out, bytes.data() + offset, size);
            return true;
        };
    };
    const std::string exif = pxexif::FromTiffFile(reader(tiff), tiff.size());
    ASSERT_FALSE(exif.empty());
    EXPECT_EQ(pxexif::ReadFields(exif, pxexif::kGpsDirectory).size(), 6u);
    for (size_t at = 4; at + 4 <= tiff.size(); at += 2) {
        for (const std::string value : {std::string("\xF0\xFF\xFF\x7F", 4), std::string("\x08\0\0\0", 4)}) {
            std::vector<uint8_t> bad = tiff;
            std::memcpy(bad.data() + at, value.data(), 4);
            const std::string block = pxexif::FromTiffFile(reader(bad), bad.size());
            EXPECT_LE(block.size(), 65533u);
            for (size_t cut : {bad.size() / 2, bad.size() - 1}) {
                std::vector<uint8_t> shortFile(bad.begin(), bad.begin() + std::ptrdiff_t(cut));
                pxexif::FromTiffFile(reader(shortFile), shortFile.size());
            }
        }
    }
}

} // namespace
