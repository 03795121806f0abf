// The HEIC and AVIF codec against libheif's own tools (heif-enc, heif-convert) and libavif's
// (avifenc, avifdec) as the second opinion, on pictures made here. Decoders of the same file may
// differ by a level or two in their YCbCr to RGB conversion (libavif's libyuv path rounds
// differently from libheif's), so decodes are compared within 2 levels; lossy encodes are held
// to a PSNR against the original.

#include "codecsuite.h"
#include "engine/pxcolour_p.h"
#include "engine/pxexif_p.h"

#include <cmath>
#include <libheif/heif.h>

namespace {
using namespace codectest;
namespace fs = std::filesystem;

bool Shell(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Q(const fs::path &p)
{
    return "'" + p.string() + "'";
}

bool Says(const PxImage &img, const char *text)
{
    return std::string(img.GetLastError()).find(text) != std::string::npos;
}

// Peak signal-to-noise ratio of the colour channels (alpha left out), in dB.
double Psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3)
            continue;
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
        ++n;
    }
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

// A smooth picture with a red block in its top left corner, so a turn or mirror shows.
PxImage Marked(uint32_t w, uint32_t h, bool alpha = false)
{
    PxImage img = Gradient(w, h);
    for (uint32_t y = h - h / 4; y < h; ++y)
        for (uint32_t x = 0; x < w / 4; ++x)
            img.SetPixelColor(int32_t(x), int32_t(y), PxRGBQuad{0, 0, 255, 0});
    if (alpha) {
        img.AlphaCreate();
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                img.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 255 / (w - 1)));
    }
    return img;
}

void SavePng(PxImage img, const fs::path &path)
{
    ASSERT_TRUE(img.Save(path, PXFORMAT_PNG)) << img.GetLastError();
}

PxImage LoadPng(const fs::path &path)
{
    PxImage img;
    EXPECT_TRUE(img.Load(path, PXFORMAT_PNG)) << path << ": " << img.GetLastError();
    return img;
}

// Whether the picture's red block sits in the given corner (0 top left, 1 top right, 2 bottom
// left, 3 bottom right), looking from the top row down.
bool RedCorner(const PxImage &img, int corner)
{
    const uint32_t x = (corner & 1) ? img.GetWidth() - 2 : 1;
    const uint32_t top = (corner & 2) ? img.GetHeight() - 2 : 1;
    const PxRGBQuad c = img.GetPixelColor(int32_t(x), int32_t(img.GetHeight() - 1 - top));
    return c.red > 200 && c.green < 60 && c.blue < 60;
}

// A HEIC written through libheif's own API with the irot/imir properties for an EXIF
// orientation, and a thumbnail of thumbSize when that is not 0; exif goes in as stored.
std::vector<uint8_t> OrientedHeic(const PxImage &src, heif_orientation orientation,
                                  int thumbSize = 0, const std::string &exif = {})
{
    const int w = int(src.GetWidth()), h = int(src.GetHeight());
    heif_context *ctx = heif_context_alloc();
    heif_image *img = nullptr;
    heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &img);
    heif_image_add_plane(img, heif_channel_interleaved, w, h, 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
    for (int top = 0; top < h; ++top)
        for (int x = 0; x < w; ++x) {
            const PxRGBQuad c = src.GetPixelColor(x, h - 1 - top);
            uint8_t *p = plane + top * stride + 3 * x;
            p[0] = c.red, p[1] = c.green, p[2] = c.blue;
        }
    heif_encoder *encoder = nullptr;
    heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoding_options *options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    heif_image_handle *handle = nullptr;
    heif_error e = heif_context_encode_image(ctx, img, encoder, options, &handle);
    EXPECT_EQ(e.code, heif_error_Ok) << e.message;
    if (thumbSize > 0) {
        heif_image_handle *thumb = nullptr;
        e = heif_context_encode_thumbnail(ctx, img, handle, encoder, options, thumbSize, &thumb);
        EXPECT_EQ(e.code, heif_error_Ok) << e.message;
        if (thumb)
            heif_image_handle_release(thumb);
    }
    if (!exif.empty())
        heif_context_add_exif_metadata(ctx, handle, exif.data(), int(exif.size()));
    std::vector<uint8_t> out;
    heif_writer writer{1, [](heif_context *, const void *data, size_t size, void *user) {
                           auto *v = static_cast<std::vector<uint8_t> *>(user);
                           v->insert(v->end(), static_cast<const uint8_t *>(data),
                                     static_cast<const uint8_t *>(data) + size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(ctx, &writer, &out);
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_image_release(img);
    heif_context_free(ctx);
    return out;
}

// Every place a box of this four-character type starts its payload (after size and type).
std::vector<size_t> FindBoxes(const std::vector<uint8_t> &file, const char *type)
{
    std::vector<size_t> at;
    for (size_t i = 4; i + 4 <= file.size(); ++i)
        if (std::memcmp(file.data() + i, type, 4) == 0)
            at.push_back(i + 4);
    return at;
}

void PutBE32(std::vector<uint8_t> &file, size_t at, uint32_t v)
{
    file.at(at) = uint8_t(v >> 24), file.at(at + 1) = uint8_t(v >> 16);
    file.at(at + 2) = uint8_t(v >> 8), file.at(at + 3) = uint8_t(v);
}

TEST(HeifCodec, DecodesLikeTheReferenceDecoders)
{
    TempFolder temp;
    SavePng(Gradient(67, 45), temp.Fs("opaque.png"));
    PxImage withAlpha = Gradient(67, 45);
    withAlpha.AlphaCreate();
    for (uint32_t y = 0; y < 45; ++y)
        for (uint32_t x = 0; x < 67; ++x)
            withAlpha.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 255 / 66));
    SavePng(withAlpha, temp.Fs("alpha.png"));
    struct Case {
        const char *name;
        const char *source;
        std::string make;     // {in} and {out} stand for the files
        std::string decode;   // the reference decoder
        uint32_t type;
        bool alpha;
        // libheif's converter is our own decoder; libavif converts YCbCr to RGB with its own
        // rounding (1 level) and brings 4:2:0 chroma up bilinearly where libheif repeats each
        // sample, which moves a smooth gradient by a few levels.
        int tolerance;
    } const cases[] = {
        {"heif-enc.heic", "opaque.png", "heif-enc -q 80 {in} -o {out}", "heif-convert {out} {ref}",
         PXFORMAT_HEIC, false, 0},
        {"heif-enc-alpha.heic", "alpha.png", "heif-enc -q 80 {in} -o {out}",
         "heif-convert {out} {ref}", PXFORMAT_HEIC, true, 0},
        {"heif-enc.avif", "opaque.png", "heif-enc -A -q 80 {in} -o {out}",
         "heif-convert {out} {ref}", PXFORMAT_AVIF, false, 0},
        {"avifenc.avif", "opaque.png", "avifenc -s 8 {in} {out}", "avifdec {out} {ref}",
         PXFORMAT_AVIF, false, 1},
        {"avifenc-alpha.avif", "alpha.png", "avifenc -s 8 {in} {out}", "avifdec {out} {ref}",
         PXFORMAT_AVIF, true, 1},
        {"avifenc-420.avif", "opaque.png", "avifenc -s 8 -y 420 {in} {out}", "avifdec {out} {ref}",
         PXFORMAT_AVIF, false, 8},
    };
    auto fill = [&](std::string s, const Case &c, const fs::path &out, const fs::path &ref) {
        for (auto [key, value] : {std::pair<std::string, fs::path>{"{in}", temp.Fs(c.source)},
                                  {"{out}", out}, {"{ref}", ref}})
            for (size_t at; (at = s.find(key)) != std::string::npos;)
                s.replace(at, key.size(), Q(value));
        return s;
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = temp.Fs(c.name);
        const auto ref = temp.Fs(std::string(c.name) + ".png");
        ASSERT_TRUE(Shell(fill(c.make, c, file, ref)));
        ASSERT_TRUE(Shell(fill(c.decode, c, file, ref)));
        // Named either way, detected or not: the container is read and its kind reported.
        for (uint32_t asked : {uint32_t(PXFORMAT_HEIC), uint32_t(PXFORMAT_AVIF), 0u}) {
            PxImage img;
            ASSERT_TRUE(DecodeFile(file, asked, img)) << img.GetLastError();
            EXPECT_EQ(img.GetType(), c.type);
            EXPECT_EQ(img.GetWidth(), 67u);
            EXPECT_EQ(img.GetHeight(), 45u);
            EXPECT_EQ(img.GetBpp(), 24u);
            EXPECT_EQ(img.AlphaIsValid(), c.alpha);
            EXPECT_EQ(img.GetExifOrientation(), 1u);
            if (asked == 0) {
                EXPECT_LE(MaxDiff(ToRgba(img), ToRgba(LoadPng(ref))), c.tolerance);
            }
        }
        PxImage probe;
        PxHeaderInfo info;
        ASSERT_TRUE(probe.LoadHeader(file, 0, info)) << probe.GetLastError();
        EXPECT_EQ(info.width, 67u);
        EXPECT_EQ(info.height, 45u);
    }
}

// Our encoder's files as libheif's and libavif's decoders see them, at the encoders' default
// quality and at 90, with and without alpha, at sizes the 4:2:0 chroma does not divide.
TEST(HeifCodec, EncodedFilesReadBackInTheReferenceDecoders)
{
    TempFolder temp;
    struct Case {
        uint32_t format;
        uint32_t quality;
        uint32_t w, h;
        bool alpha;
        double minPsnr;
    } const cases[] = {
        {PXFORMAT_HEIC, 0, 67, 45, false, 38},  {PXFORMAT_HEIC, 90, 67, 45, false, 41},
        {PXFORMAT_HEIC, 90, 67, 45, true, 41},  {PXFORMAT_HEIC, 60, 1, 1, false, 30},
        {PXFORMAT_HEIC, 60, 17, 9, false, 27},  {PXFORMAT_AVIF, 0, 67, 45, false, 38},
        {PXFORMAT_AVIF, 90, 67, 45, false, 41}, {PXFORMAT_AVIF, 90, 67, 45, true, 41},
        {PXFORMAT_AVIF, 60, 3, 5, false, 18},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.format == PXFORMAT_AVIF ? "avif" : "heic") << " q"
                                        << c.quality << " " << c.w << "x" << c.h
                                        << (c.alpha ? " alpha" : ""));
        PxImage src = Gradient(c.w, c.h);
        if (c.alpha) {
            src.AlphaCreate();
            for (uint32_t y = 0; y < c.h; ++y)
                for (uint32_t x = 0; x < c.w; ++x)
                    src.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 255 / (c.w - 1)));
        }
        src.SetSaveQuality(c.quality);
        const auto file = temp.Fs("ours" + std::to_string(n++) + (c.format == PXFORMAT_AVIF ? ".avif" : ".heic"));
        ASSERT_TRUE(src.Save(file, c.format)) << src.GetLastError();
        const auto ref = temp.Fs(file.filename().string() + ".png");
        ASSERT_TRUE(Shell("heif-convert " + Q(file) + " " + Q(ref)));
        const PxImage theirs = LoadPng(ref);
        ASSERT_EQ(theirs.GetWidth(), c.w);
        ASSERT_EQ(theirs.GetHeight(), c.h);
        EXPECT_EQ(theirs.AlphaIsValid(), src.AlphaIsValid());
        EXPECT_GE(Psnr(ToRgba(src), ToRgba(theirs)), c.minPsnr);
        if (src.AlphaIsValid()) {
            // Alpha is coded lossily too, as a grey picture of its own.
            const auto a = ToRgba(src), b = ToRgba(theirs);
            int worst = 0;
            for (size_t i = 3; i < a.size(); i += 4)
                worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
            EXPECT_LE(worst, 12);
        }
        if (c.format == PXFORMAT_AVIF) {
            const auto avifRef = temp.Fs(file.filename().string() + ".avifdec.png");
            ASSERT_TRUE(Shell("avifdec " + Q(file) + " " + Q(avifRef)));
            // libavif brings the chroma up its own way (see above): held to the same PSNR.
            EXPECT_GE(Psnr(ToRgba(src), ToRgba(LoadPng(avifRef))), c.minPsnr);
        }
        PxImage ours;
        ASSERT_TRUE(DecodeFile(file, 0, ours)) << ours.GetLastError();
        EXPECT_EQ(ours.GetType(), c.format);
        EXPECT_LE(MaxDiff(ToRgba(ours), ToRgba(theirs)), 0);
    }
}

// The engine's encoder settings are heif-enc's: same picture, same quality, same file size
// (within 5 %), and the caller's palette picture is left as it was.
TEST(HeifCodec, EncoderMatchesHeifEncAndLeavesTheImageAlone)
{
    TempFolder temp;
    const PxImage photo = Marked(160, 120);
    SavePng(photo, temp.Fs("photo.png"));
    for (uint32_t format : {uint32_t(PXFORMAT_HEIC), uint32_t(PXFORMAT_AVIF)})
        for (uint32_t quality : {0u, 75u}) {
            SCOPED_TRACE(testing::Message() << format << " q" << quality);
            PxImage img(photo);
            img.SetSaveQuality(quality);
            const auto ours = EncodeToMemory(img, format);
            const auto theirs = temp.Fs("theirs");
            ASSERT_TRUE(Shell(std::string("heif-enc ") + (format == PXFORMAT_AVIF ? "-A " : "") +
                            (quality ? "-q " + std::to_string(quality) + " " : "") +
                            Q(temp.Fs("photo.png")) + " -o " + Q(theirs)));
            const double theirSize = double(fs::file_size(theirs));
            EXPECT_NEAR(double(ours.size()), theirSize, theirSize * 0.05);
        }

    // A palette picture whose transparent index is its only transparency.
    PxImage palette = Noise(8, 24, 16);
    palette.SetTransIndex(7);
    palette.SetPixelIndex(3, 4, 7);
    const PxImage before(palette);
    PxImage back;
    ASSERT_TRUE(DecodeMemory(EncodeToMemory(palette, PXFORMAT_HEIC), 0, back))
        << back.GetLastError();
    EXPECT_EQ(palette.GetBpp(), 8u);
    EXPECT_FALSE(palette.AlphaIsValid());
    EXPECT_EQ(ToRgba(palette), ToRgba(before));
    ASSERT_TRUE(back.AlphaIsValid());
    EXPECT_LE(back.AlphaGet(3, 4), 16);
}

// Deep pictures become 8 bits per sample rounded to the nearest level, not cut off: held
// against libheif's own samples at full depth.
TEST(HeifCodec, TenBitSamplesAreRoundedToEightBits)
{
    TempFolder temp;
    const auto png = temp.Fs("deep.png");
    Python("import struct, sys, zlib\n"
           "w, h = 40, 30\n"
           "rows = b''\n"
           "for y in range(h):\n"
           "    rows += b'\\0'\n"
           "    for x in range(w):\n"
           "        for v in (x * 1601, y * 2203, (x * y * 37 + 500) % 65536):\n"
           "            rows += struct.pack('>H', v % 65536)\n"
           "def chunk(t, d):\n"
           "    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))\n"
           "open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', struct.pack("
           "'>IIBBBBB', w, h, 16, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(rows)) + "
           "chunk(b'IEND', b''))\n",
           {png.string()});
    const auto file = temp.Fs("deep.heic");
    ASSERT_TRUE(Shell("heif-enc -b 10 -q 90 " + Q(png) + " -o " + Q(file)));

    const auto bytes = ReadFileBytes(file);
    heif_context *ctx = heif_context_alloc();
    ASSERT_EQ(heif_context_read_from_memory_without_copy(ctx, bytes.data(), bytes.size(), nullptr)
                  .code,
              heif_error_Ok);
    heif_image_handle *handle = nullptr;
    heif_context_get_primary_image_handle(ctx, &handle);
    ASSERT_EQ(heif_image_handle_get_luma_bits_per_pixel(handle), 10);
    heif_image *deep = nullptr;
    ASSERT_EQ(heif_decode_image(handle, &deep, heif_colorspace_RGB,
                                heif_chroma_interleaved_RRGGBB_LE, nullptr)
                  .code,
              heif_error_Ok);
    int stride = 0;
    const uint8_t *p = heif_image_get_plane_readonly(deep, heif_channel_interleaved, &stride);

    PxImage img;
    ASSERT_TRUE(DecodeMemory(bytes, 0, img)) << img.GetLastError();
    ASSERT_EQ(img.GetWidth(), 40u);
    ASSERT_EQ(img.GetHeight(), 30u);
    int wrong = 0, truncatedWouldDiffer = 0;
    for (int top = 0; top < 30; ++top)
        for (int x = 0; x < 40; ++x) {
            const PxRGBQuad c = img.GetPixelColor(x, 29 - top);
            const uint8_t got[3] = {c.red, c.green, c.blue};
            for (int k = 0; k < 3; ++k) {
                const uint8_t *s = p + top * stride + 6 * x + 2 * k;
                const unsigned v = s[0] | (s[1] << 8);
                wrong += got[k] != (v * 255 + 511) / 1023;
                truncatedWouldDiffer += (v >> 2) != (v * 255 + 511) / 1023;
            }
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(truncatedWouldDiffer, 100); // the picture tells rounding from cutting off
    heif_image_release(deep);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
}

// Several pictures in one file: the primary one is read, in the header too.
TEST(HeifCodec, CollectionReadsItsPrimaryPicture)
{
    TempFolder temp;
    SavePng(Marked(48, 32), temp.Fs("first.png"));
    SavePng(Gradient(20, 64), temp.Fs("second.png"));
    const auto file = temp.Fs("pair.heic");
    ASSERT_TRUE(Shell("heif-enc -q 80 " + Q(temp.Fs("first.png")) + " " + Q(temp.Fs("second.png")) +
                    " -o " + Q(file)));
    PxImage img;
    ASSERT_TRUE(DecodeFile(file, PXFORMAT_HEIC, img)) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 48u);
    EXPECT_EQ(img.GetHeight(), 32u);
    EXPECT_TRUE(RedCorner(img, 0));
    PxHeaderInfo info;
    ASSERT_TRUE(img.LoadHeader(file, PXFORMAT_HEIC, info));
    EXPECT_EQ(info.width, 48u);
    EXPECT_EQ(info.height, 32u);
}

// irot and imir are applied once: the picture is upright, says so, AutoOrient leaves it, the
// header reports the turned size and a kept EXIF block no longer asks for a turn.
TEST(HeifCodec, RotatedAndMirroredPicturesComeOutUprightOnce)
{
    TempFolder temp;
    const PxImage src = Marked(64, 40);
    TestExif exif;
    exif.orientation = 6;
    struct Case {
        heif_orientation orientation;
        uint32_t w, h;
        int redCorner;
    } const cases[] = {
        {heif_orientation_normal, 64, 40, 0},
        {heif_orientation_rotate_90_cw, 40, 64, 1},
        {heif_orientation_rotate_180, 64, 40, 3},
        {heif_orientation_rotate_270_cw, 40, 64, 2},
        {heif_orientation_flip_horizontally, 64, 40, 1},
        {heif_orientation_rotate_90_cw_then_flip_horizontally, 40, 64, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.orientation));
        const auto bytes = OrientedHeic(src, c.orientation, 0, MakeExifBlock(exif));
        const auto file = temp.Fs("turned" + std::to_string(int(c.orientation)) + ".heic");
        WriteFileBytes(file, bytes);
        PxImage img;
        img.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeFile(file, 0, img)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), c.w);
        EXPECT_EQ(img.GetHeight(), c.h);
        EXPECT_TRUE(RedCorner(img, c.redCorner));
        EXPECT_EQ(img.GetExifOrientation(), 1u);
        ASSERT_TRUE(img.GetMetadata());
        const std::string &kept = img.GetMetadata()->exif;
        EXPECT_EQ(pxexif::ReadOrientation(reinterpret_cast<const uint8_t *>(kept.data()), kept.size()), 1u);
        const auto before = ToRgba(img);
        ASSERT_TRUE(img.AutoOrient());
        EXPECT_EQ(ToRgba(img), before);

        const auto ref = temp.Fs(file.filename().string() + ".png");
        ASSERT_TRUE(Shell("heif-convert " + Q(file) + " " + Q(ref)));
        EXPECT_LE(MaxDiff(before, ToRgba(LoadPng(ref))), 2);

        PxHeaderInfo info;
        ASSERT_TRUE(img.LoadHeader(file, 0, info)) << img.GetLastError();
        EXPECT_EQ(info.width, c.w);
        EXPECT_EQ(info.height, c.h);
    }
}

// A picture shown small decodes its embedded thumbnail when that still covers the fit, and
// the full picture otherwise; a turned file's thumbnail comes out turned the same way.
TEST(HeifCodec, FitBoxUsesACoveringThumbnail)
{
    TempFolder temp;
    SavePng(Marked(256, 192), temp.Fs("big.png"));
    const auto file = temp.Fs("thumbed.heic");
    ASSERT_TRUE(Shell("heif-enc -q 70 -t 64 " + Q(temp.Fs("big.png")) + " -o " + Q(file)));
    WriteFileBytes(temp.Fs("turned.heic"),
                   OrientedHeic(Marked(256, 192), heif_orientation_rotate_90_cw, 64));
    struct Case {
        const char *file;
        uint32_t boxW, boxH, w, h;
        int redCorner;
    } const cases[] = {
        {"thumbed.heic", 0, 0, 256, 192, 0},    {"thumbed.heic", 40, 40, 64, 48, 0},
        {"thumbed.heic", 64, 48, 64, 48, 0},    {"thumbed.heic", 65, 49, 256, 192, 0},
        {"thumbed.heic", 1000, 1000, 256, 192, 0}, {"turned.heic", 30, 30, 48, 64, 1},
        {"turned.heic", 100, 100, 192, 256, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.file << " " << c.boxW << "x" << c.boxH);
        PxImage img;
        img.SetDecodeFitBox(c.boxW, c.boxH);
        ASSERT_TRUE(DecodeFile(temp.Fs(c.file), 0, img)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), c.w);
        EXPECT_EQ(img.GetHeight(), c.h);
        EXPECT_TRUE(RedCorner(img, c.redCorner));
    }
}

TEST(HeifCodec, BrokenFilesFailWithAReason)
{
    TempFolder temp;
    // 64 x 64 is coded as it is; other sizes may be wrapped in a grid of one tile.
    SavePng(Marked(64, 64), temp.Fs("p.png"));
    ASSERT_TRUE(Shell("heif-enc -q 60 " + Q(temp.Fs("p.png")) + " -o " + Q(temp.Fs("p.heic"))));
    ASSERT_TRUE(Shell("heif-enc -A -q 60 " + Q(temp.Fs("p.png")) + " -o " + Q(temp.Fs("p.avif"))));
    const auto heic = ReadFileBytes(temp.Fs("p.heic"));
    const auto avif = ReadFileBytes(temp.Fs("p.avif"));
    auto patched = [](std::vector<uint8_t> file, const char *box, size_t offset, uint32_t value) {
        for (size_t at : FindBoxes(file, box))
            PutBE32(file, at + offset, value);
        return file;
    };
    auto renamed = [](std::vector<uint8_t> file, const char *from, const char *to) {
        for (size_t at : FindBoxes(file, from))
            std::memcpy(file.data() + at - 4, to, 4);
        return file;
    };
    const size_t mdat = FindBoxes(heic, "mdat").at(0);
    // heif-enc's AVIF has one item of one extent: its length ends the item location table.
    std::vector<uint8_t> emptyAv1 = avif;
    PutBE32(emptyAv1, FindBoxes(avif, "iloc").at(0) + 22, 0);
    std::vector<uint8_t> garbage(400);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 7 + 3);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        bool headerFails; // a file cut inside its coded picture still has a readable header
        const char *reason;
    } const cases[] = {
        {"empty", {}, true, "not a HEIF file"},
        {"garbage", garbage, true, "not a HEIF file"},
        {"only ftyp", std::vector<uint8_t>(heic.begin(), heic.begin() + 24), true, "HEIF file"},
        {"cut in meta", std::vector<uint8_t>(heic.begin(), heic.begin() + long(mdat / 2)), true,
         "HEIF file could not be read"},
        // libheif checks every item's extents against the file as it reads the boxes.
        {"cut in mdat", std::vector<uint8_t>(heic.begin(), heic.end() - 40), true, "iloc"},
        {"no primary", patched(heic, "pitm", 4, 0x77770000), true, "pitm"},
        {"hevc item unknown", renamed(heic, "hvc1", "zzzz"), true, "HEIF"},
        {"av1C missing", renamed(avif, "av1C", "zzzz"), true, "av1C"},
        // dav1d would be handed an empty buffer that libheif then leaks.
        {"av01 item without data", emptyAv1, false, "no coded data"},
        // Refused as the boxes are read, long before anything of that size exists.
        {"ispe beyond the limits", patched(patched(heic, "ispe", 4, 60000), "ispe", 8, 60000),
         true, "Security limit"},
        {"ispe without pixels", patched(patched(heic, "ispe", 4, 0), "ispe", 8, 0), true, "HEIF"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.bytes, PXFORMAT_HEIC, img));
        EXPECT_TRUE(Says(img, c.reason)) << img.GetLastError();
        PxMemFile mem(c.bytes.data(), c.bytes.size());
        PxHeaderInfo info;
        PxImage probe;
        EXPECT_EQ(probe.DecodeHeader(mem, PXFORMAT_HEIC, info), !c.headerFails)
            << probe.GetLastError();
        if (c.headerFails) {
            EXPECT_TRUE(Says(probe, c.reason)) << probe.GetLastError();
        }
    }
}

// EXIF (camera and date), XMP and the ICC profile travel from a HEIC through the engine into
// its HEIC and AVIF files, where libheif's converter and our decoder find them again.
TEST(HeifCodec, MetadataSurvivesTheRoundTrip)
{
    TempFolder temp;
    TestExif exif;
    exif.make = "Heif Round Trip Cam";
    exif.date = "2023:11:12 13:14:15";
    exif.pixelWidth = 9999;
    exif.pixelHeight = 8888;
    PxImage jpeg = Marked(64, 48);
    auto md = std::make_shared<PxMetadata>();
    md->exif = MakeExifBlock(exif);
    jpeg.SetMetadata(md);
    ASSERT_TRUE(jpeg.Save(temp.Fs("camera.jpg"), PXFORMAT_JPG)) << jpeg.GetLastError();
    const auto source = temp.Fs("camera.heic");
    ASSERT_TRUE(Shell("heif-enc -q 80 " + Q(temp.Fs("camera.jpg")) + " -o " + Q(source)));

    PxImage img;
    img.SetKeepMetadata(true);
    ASSERT_TRUE(DecodeFile(source, 0, img)) << img.GetLastError();
    ASSERT_TRUE(img.GetMetadata());
    const std::string kept = img.GetMetadata()->exif;
    EXPECT_EQ(kept.compare(0, 6, std::string("Exif\0\0", 6)), 0);
    EXPECT_NE(kept.find(exif.make), std::string::npos);
    EXPECT_NE(kept.find(exif.date), std::string::npos);
    EXPECT_EQ(kept.find(std::string(40, '\x5A')), std::string::npos) << "thumbnail kept";

    // An ICC profile is carried byte for byte (libheif does not look inside it): a phone's
    // Display P3, so that without keeping it the pixels are brought to sRGB.
    const std::string icc = pxcolour::ProfileFromNclx(12, 13);
    ASSERT_FALSE(icc.empty());
    auto withMore = std::make_shared<PxMetadata>(*img.GetMetadata());
    withMore->icc = icc;
    withMore->xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/"
                    "1999/02/22-rdf-syntax-ns#\"/></x:xmpmeta>";
    img.SetMetadata(withMore);
    for (uint32_t format : {uint32_t(PXFORMAT_HEIC), uint32_t(PXFORMAT_AVIF)}) {
        SCOPED_TRACE(format);
        const auto file = temp.Fs(format == PXFORMAT_AVIF ? "again.avif" : "again.heic");
        ASSERT_TRUE(img.Save(file, format)) << img.GetLastError();
        PxImage back;
        back.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeFile(file, 0, back)) << back.GetLastError();
        ASSERT_TRUE(back.GetMetadata());
        EXPECT_NE(back.GetMetadata()->exif.find(exif.make), std::string::npos);
        EXPECT_NE(back.GetMetadata()->exif.find(exif.date), std::string::npos);
        EXPECT_EQ(back.GetMetadata()->xmp, withMore->xmp);
        EXPECT_EQ(back.GetMetadata()->icc, icc);
        // Without keeping metadata the profile still reaches the colour conversion: the
        // pixels come out in sRGB, no longer as stored.
        PxImage plain;
        ASSERT_TRUE(DecodeFile(file, 0, plain));
        EXPECT_FALSE(plain.GetMetadata());
        EXPECT_NE(ToRgba(plain), ToRgba(back));
        for (const PxImage *settled : {&back, &plain})
            EXPECT_TRUE(settled->GetColourProfile().empty()) << "left to the next decode";

        const auto converted = temp.Fs(file.filename().string() + ".jpg");
        ASSERT_TRUE(Shell("heif-convert " + Q(file) + " " + Q(converted)));
        PxImage viaTool;
        viaTool.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeFile(converted, PXFORMAT_JPG, viaTool)) << viaTool.GetLastError();
        ASSERT_TRUE(viaTool.GetMetadata());
        EXPECT_NE(viaTool.GetMetadata()->exif.find(exif.date), std::string::npos);
        EXPECT_NE(viaTool.GetMetadata()->exif.find(exif.make), std::string::npos);
    }
}

// libheif hands premultiplied colour over as it is stored; the engine's alpha is straight.
TEST(HeifCodec, PremultipliedAlphaComesOutStraight)
{
    TempFolder temp;
    PxImage stored;
    stored.Create(32, 8, 24, 0);
    stored.AlphaCreate();
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            const uint32_t a = 64 + x * 6;
            stored.SetPixelColor(int32_t(x), int32_t(y),
                                 PxRGBQuad{uint8_t(50 * a / 255), uint8_t(100 * a / 255),
                                           uint8_t(200 * a / 255), 0});
            stored.AlphaSet(int32_t(x), int32_t(y), uint8_t(a));
        }
    SavePng(stored, temp.Fs("pm.png"));
    const auto file = temp.Fs("pm.heic");
    ASSERT_TRUE(Shell("heif-enc --premultiplied-alpha -q 95 " + Q(temp.Fs("pm.png")) + " -o " +
                      Q(file)));
    PxImage img;
    ASSERT_TRUE(DecodeFile(file, 0, img)) << img.GetLastError();
    ASSERT_TRUE(img.AlphaIsValid());
    for (int x : {2, 15, 30}) {
        SCOPED_TRACE(x);
        const PxRGBQuad c = img.GetPixelColor(x, 4);
        EXPECT_NEAR(c.red, 200, 12);
        EXPECT_NEAR(c.green, 100, 12);
        EXPECT_NEAR(c.blue, 50, 12);
    }
}

// A file that cannot take the bytes makes the encode fail, not a short file reported saved.
TEST(HeifCodec, WriteFailureIsReported)
{
    struct FullDisk : PxMemFile {
        size_t Write(const void *, size_t, size_t) override { return 0; }
    } disk;
    PxImage img = Marked(32, 32);
    EXPECT_FALSE(img.Encode(disk, PXFORMAT_AVIF));
    EXPECT_TRUE(Says(img, "can't write")) << img.GetLastError();
}

} // namespace
