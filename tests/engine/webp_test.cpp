// The WebP codec against libwebp's own tools: our files read by dwebp, cwebp's and img2webp's
// files read by us, metadata checked with webpmux, and broken or hostile files refused.

#include "codecsuite.h"
#include "engine/pxcolour_p.h"
#include "engine/pximage.h"

#include <cmath>
#include <cstring>

namespace {
using namespace codectest;

// RGBA rows top first from a PAM file as dwebp -pam writes it.
std::optional<std::vector<uint8_t>> ReadPam(const std::filesystem::path &path)
{
    const auto bytes = ReadFileBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    const size_t end = text.find("ENDHDR\n");
    if (text.compare(0, 3, "P7\n") != 0 || end == std::string::npos)
        return std::nullopt;
    std::istringstream head(text.substr(0, end));
    std::string key;
    int width = 0, height = 0, depth = 0;
    while (head >> key) {
        if (key == "WIDTH")
            head >> width;
        else if (key == "HEIGHT")
            head >> height;
        else if (key == "DEPTH")
            head >> depth;
    }
    const size_t start = end + 7;
    if (depth != 4 || bytes.size() - start != size_t(width) * height * 4)
        return std::nullopt;
    return std::vector<uint8_t>(bytes.begin() + long(start), bytes.end());
}

std::optional<std::vector<uint8_t>> Dwebp(const std::filesystem::path &webp)
{
    const auto pam = webp.string() + ".pam";
    if (Shell("dwebp -pam '" + webp.string() + "' -o '" + pam + "'") != 0)
        return std::nullopt;
    return ReadPam(pam);
}

// RGB only, for the lossy comparisons (alpha is compared on its own).
std::vector<uint8_t> Rgb(const std::vector<uint8_t> &rgba)
{
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    return rgb;
}

std::vector<uint8_t> Encode(PxImage &img, uint32_t quality = 0, bool lossless = false)
{
    return EncodeWith(img, PXFORMAT_WEBP, quality, lossless);
}

TEST(WebpCodec, LosslessFilesAreExactForDwebpAndForUs)
{
    struct Case {
        const char *name;
        PxImage image;
    } cases[] = {
        {"24-bit, odd size", Noise(24, 37, 23)},
        {"24-bit with alpha", WithAlpha(Noise(24, 19, 7, false, 4))},
        {"one pixel", Noise(24, 1, 1, false, 9)},
    };
    TempFolder temp;
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Encode(c.image, 0, true);
        const auto file = temp.Fs("lossless.webp");
        WriteFileBytes(file, bytes);
        const auto reference = Dwebp(file);
        ASSERT_TRUE(reference);
        const auto expected = ToRgba(c.image);
        // exact mode: even the colour under transparent pixels is kept.
        EXPECT_EQ(*reference, expected);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, back)) << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), 24u);
        EXPECT_EQ(back.AlphaIsValid(), c.image.AlphaIsValid());
        EXPECT_EQ(ToRgba(back), expected);
        EXPECT_EQ(back.GetType(), uint32_t(PXFORMAT_WEBP));
    }
}

// Lossy: our decode is libwebp's, so it matches dwebp; both stay close to the source.
TEST(WebpCodec, LossyFilesMatchDwebpAndStayClose)
{
    struct Case {
        const char *name;
        PxImage image;
        uint32_t quality;
        double minPsnr;
    } cases[] = {
        {"default quality", Gradient(67, 45), 0, 34},
        {"quality 95", Gradient(64, 64), 95, 40},
        {"quality 20 with alpha", WithAlpha(Gradient(50, 30)), 20, 28},
    };
    TempFolder temp;
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Encode(c.image, c.quality);
        const auto file = temp.Fs("lossy.webp");
        WriteFileBytes(file, bytes);
        const auto reference = Dwebp(file);
        ASSERT_TRUE(reference);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, back)) << back.GetLastError();
        const auto ours = ToRgba(back);
        EXPECT_EQ(ours, *reference);
        EXPECT_GE(Psnr(Rgb(ours), Rgb(ToRgba(c.image))), c.minPsnr);
        if (c.image.AlphaIsValid()) {
            // Alpha is stored losslessly at the default alpha quality.
            ASSERT_TRUE(back.AlphaIsValid());
            for (uint32_t y = 0; y < back.GetHeight(); ++y)
                for (uint32_t x = 0; x < back.GetWidth(); ++x)
                    ASSERT_EQ(back.AlphaGet(int32_t(x), int32_t(y)),
                              c.image.AlphaGet(int32_t(x), int32_t(y)));
        }
    }
}

// The writer uses cwebp's defaults: at the same quality the files are the same size.
TEST(WebpCodec, SizeMatchesCwebpAtTheSameQuality)
{
    TempFolder temp;
    PxImage picture = Gradient(160, 120);
    for (uint32_t y = 0; y < 120; y += 3) // some detail, so the quality matters
        for (uint32_t x = 0; x < 160; ++x)
            picture.GetBits(y)[3 * x] ^= uint8_t(x * 13);
    WritePng(picture, temp.Fs("source.png"));
    for (int quality : {80, 50}) {
        SCOPED_TRACE(quality);
        const auto ours = Encode(picture, uint32_t(quality));
        const auto theirs = temp.Fs("cwebp.webp");
        ASSERT_EQ(Shell("cwebp -q " + std::to_string(quality) + " '" + temp.Fs("source.png").string() +
                      "' -o '" + theirs.string() + "'"),
                  0);
        const double reference = double(ReadFileBytes(theirs).size());
        EXPECT_NEAR(double(ours.size()), reference, reference * 0.05);
    }
    const auto q10 = Encode(picture, 10), q95 = Encode(picture, 95);
    EXPECT_LT(q10.size(), q95.size());
    EXPECT_EQ(Encode(picture, 0).size(), Encode(picture, 75).size());
}

// Files of the reference encoders, read by us and by dwebp.
TEST(WebpCodec, ReadsCwebpFilesAsDwebpDoes)
{
    TempFolder temp;
    PxImage rgb = Gradient(45, 31);
    PxImage rgba = WithAlpha(Noise(24, 21, 13, false, 5));
    WritePng(rgb, temp.Fs("rgb.png"));
    WritePng(rgba, temp.Fs("rgba.png"));
    struct Case {
        const char *name;
        std::string options;
        const char *source;
        bool alpha;
        bool exact;
    } const cases[] = {
        {"lossy", "-q 75", "rgb.png", false, false},
        {"lossless", "-lossless -exact", "rgb.png", false, true},
        {"lossy with alpha", "-q 60", "rgba.png", true, false},
        {"lossless with alpha", "-lossless -exact", "rgba.png", true, true},
        {"sharp yuv, method 6", "-q 90 -m 6 -sharp_yuv", "rgb.png", false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = temp.Fs("ref.webp");
        ASSERT_EQ(Shell("cwebp " + c.options + " '" + temp.Fs(c.source).string() + "' -o '" +
                      file.string() + "'"),
                  0);
        PxImage img;
        ASSERT_TRUE(DecodeFile(file, PXFORMAT_WEBP, img)) << img.GetLastError();
        EXPECT_EQ(img.AlphaIsValid(), c.alpha);
        const auto reference = Dwebp(file);
        ASSERT_TRUE(reference);
        EXPECT_EQ(ToRgba(img), *reference);
        if (c.exact) {
            PxImage &source = c.alpha ? rgba : rgb;
            EXPECT_EQ(ToRgba(img), ToRgba(source));
        }
        // Content detection finds it too.
        PxImage detected;
        EXPECT_TRUE(DecodeFile(file, PXFORMAT_UNKNOWN, detected)) << detected.GetLastError();
        EXPECT_EQ(detected.GetType(), uint32_t(PXFORMAT_WEBP));
    }
}

TEST(WebpCodec, AnimationGivesItsFirstFrameAndFrameCount)
{
    TempFolder temp;
    std::vector<PxImage> frames;
    frames.push_back(WithAlpha(Noise(24, 23, 17, false, 1)));
    frames.push_back(Noise(24, 23, 17, false, 2));
    frames.push_back(Noise(24, 23, 17, false, 3));
    std::string list;
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto png = temp.Fs("f" + std::to_string(i) + ".png");
        WritePng(frames[i], png);
        list += " '" + png.string() + "'";
    }
    const auto file = temp.Fs("anim.webp");
    ASSERT_EQ(Shell("img2webp -d 120 -lossless" + list + " -o '" + file.string() + "'"), 0);
    PxImage img;
    ASSERT_TRUE(DecodeFile(file, PXFORMAT_WEBP, img)) << img.GetLastError();
    EXPECT_EQ(img.GetNumFrames(), 3);
    EXPECT_EQ(img.GetFrameDelay(), 12u); // hundredths of a second, as for GIF
    ASSERT_TRUE(img.AlphaIsValid());
    EXPECT_EQ(MaxDiff(ToRgba(img), ToRgba(frames[0])), 0);
    PxHeaderInfo info;
    PxImage probe;
    ASSERT_TRUE(probe.LoadHeader(file, PXFORMAT_WEBP, info)) << probe.GetLastError();
    EXPECT_EQ(info.width, 23u);
    EXPECT_EQ(info.height, 17u);
    // A still picture counts as no animation.
    PxImage still;
    ASSERT_TRUE(DecodeMemory(Encode(frames[1]), PXFORMAT_WEBP, still));
    EXPECT_LE(still.GetNumFrames(), 1);
}

// Palette images are written from a 24-bit copy; the caller's image is left as it was.
TEST(WebpCodec, OtherDepthsAreWrittenFromACopy)
{
    struct Case {
        const char *name;
        PxImage image;
        int32_t transIndex;
    } cases[] = {
        {"8-bit palette", Noise(8, 31, 9, false, 2), -1},
        {"4-bit palette, transparent entry", Noise(4, 17, 10, false, 3), 5},
        {"1-bit", Noise(1, 40, 3, false, 4), -1},
        {"8-bit grey", Noise(8, 12, 12, true, 5), -1},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.image.SetTransIndex(c.transIndex);
        const auto before = c.image.CopyToHandle();
        const uint32_t bpp = c.image.GetBpp();
        const auto bytes = Encode(c.image, 0, true);
        EXPECT_EQ(c.image.GetBpp(), bpp);
        EXPECT_EQ(c.image.CopyToHandle(), before);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, back)) << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), 24u);
        EXPECT_EQ(back.AlphaIsValid(), c.transIndex >= 0);
        EXPECT_EQ(MaxDiff(ToRgba(back), ToRgba(c.image)), 0);
    }
}

TEST(WebpCodec, ScaledDecodeCoversTheFitBox)
{
    PxImage src = Gradient(400, 300);
    const auto bytes = Encode(src, 90);
    struct Case {
        uint32_t boxWidth, boxHeight, width, height;
    } const cases[] = {
        {100, 100, 100, 75}, {100, 50, 67, 50}, {0, 0, 400, 300},
        {1000, 1000, 400, 300}, {399, 1000, 399, 300}, {1, 1, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.boxWidth) + "x" + std::to_string(c.boxHeight));
        PxImage img;
        img.SetDecodeFitBox(c.boxWidth, c.boxHeight);
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, img)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), c.width);
        EXPECT_EQ(img.GetHeight(), c.height);
    }
    // The scaled picture is the same picture: its centre has the source's colour.
    PxImage small;
    small.SetDecodeFitBox(40, 40);
    ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, small));
    const PxRGBQuad a = small.GetPixelColor(20, 15), b = src.GetPixelColor(200, 150);
    EXPECT_NEAR(a.red, b.red, 6);
    EXPECT_NEAR(a.green, b.green, 6);
    EXPECT_NEAR(a.blue, b.blue, 6);
}

// Minimal VP8L and VP8X headers claiming a size; the data behind them is garbage.
std::vector<uint8_t> Riff(const std::vector<uint8_t> &chunks)
{
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'};
    out.insert(out.end(), chunks.begin(), chunks.end());
    const uint32_t size = uint32_t(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = uint8_t(size >> (8 * i));
    return out;
}

void PutChunk(std::vector<uint8_t> &out, const char *fourcc, const std::vector<uint8_t> &payload)
{
    out.insert(out.end(), fourcc, fourcc + 4);
    const uint32_t size = uint32_t(payload.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(size >> (8 * i)));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() & 1)
        out.push_back(0);
}

std::vector<uint8_t> LosslessClaiming(uint32_t width, uint32_t height)
{
    const uint32_t bits = (width - 1) | (height - 1) << 14;
    std::vector<uint8_t> payload = {0x2F, uint8_t(bits), uint8_t(bits >> 8), uint8_t(bits >> 16),
                                    uint8_t(bits >> 24)};
    payload.resize(64, 0x55);
    std::vector<uint8_t> chunks;
    PutChunk(chunks, "VP8L", payload);
    return Riff(chunks);
}

std::vector<uint8_t> AnimationClaiming(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> vp8x = {0x12, 0, 0, 0}; // animation and alpha flags
    for (uint32_t v : {width - 1, height - 1})
        vp8x.insert(vp8x.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)});
    std::vector<uint8_t> chunks;
    PutChunk(chunks, "VP8X", vp8x);
    PutChunk(chunks, "ANIM", {0, 0, 0, 0, 0, 0});
    PutChunk(chunks, "ANMF", std::vector<uint8_t>(40, 0));
    return Riff(chunks);
}

TEST(WebpCodec, HeaderReadsAgreeWithTheDecoder)
{
    PxImage odd = Noise(24, 37, 5);
    const auto lossless = Encode(odd, 0, true);
    const auto lossy = Encode(odd, 60);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        bool ok;
        uint32_t width, height;
        const char *reason; // part of the refusal's text
    } const cases[] = {
        {"lossless", lossless, true, 37, 5, ""},
        {"lossy", lossy, true, 37, 5, ""},
        // The header read stops before the pixel data, so it does not see the cut.
        {"lossless cut after the header", {lossless.begin(), lossless.begin() + 40}, true, 37, 5,
         ""},
        // Beyond the engine's memory cap (a still picture's 14-bit sides cannot get there).
        {"animation on a 60000 x 60000 canvas", AnimationClaiming(60000, 60000), false, 0, 0,
         "PXIMAGE_MAX_MEMORY exceeded"},
        // Within the cap as a picture, but libwebp's two canvases would not be.
        {"animation on a 5000 x 5000 canvas", AnimationClaiming(5000, 5000), false, 0, 0,
         "canvas of 5000 x 5000 pixels is too large"},
        // Found by fuzzing: 13 x 3801099, which took seconds to clear and copy.
        {"animation on a 13 x 3801099 canvas", AnimationClaiming(13, 3801099), false, 0, 0,
         "too large"},
        {"animation on a 2000 x 2000 canvas", AnimationClaiming(2000, 2000), true, 2000, 2000, ""},
        // Beyond what libwebp accepts at all (2^32 pixels).
        {"animation on a 100000 x 100000 canvas", AnimationClaiming(100000, 100000), false, 0, 0,
         "broken"},
        {"PNG signature", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0}, false, 0, 0,
         "not a WebP file"},
        {"RIFF of another kind", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, false, 0, 0,
         "not a WebP file"},
        {"RIFF header only", {lossy.begin(), lossy.begin() + 12}, false, 0, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxMemFile file(c.bytes.data(), c.bytes.size());
        PxImage probe;
        PxHeaderInfo info;
        EXPECT_EQ(probe.DecodeHeader(file, PXFORMAT_WEBP, info), c.ok) << probe.GetLastError();
        if (c.ok) {
            EXPECT_EQ(info.width, c.width);
            EXPECT_EQ(info.height, c.height);
            EXPECT_EQ(info.format, uint32_t(PXFORMAT_WEBP));
        } else {
            EXPECT_NE(std::string(probe.GetLastError()).find(c.reason), std::string::npos)
                << probe.GetLastError();
        }
        // The decoder refuses what the header refuses, for the same reason.
        PxImage img;
        const bool decoded = DecodeMemory(c.bytes, PXFORMAT_WEBP, img);
        if (!c.ok) {
            EXPECT_FALSE(decoded);
            EXPECT_STREQ(img.GetLastError(), probe.GetLastError());
        }
    }
}

std::vector<uint8_t> Bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(WebpCodec, BrokenFilesFailWithAReason)
{
    PxImage picture = WithAlpha(Gradient(64, 48));
    const auto lossy = Encode(picture, 80);
    const auto lossless = Encode(picture, 0, true);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        const char *reason; // "" when any text will do
    } cases[] = {
        {"empty", {}, "not a WebP file"},
        {"lossy cut in half", {lossy.begin(), lossy.begin() + long(lossy.size() / 2)},
         "cut short"},
        {"lossy without its last byte", {lossy.begin(), lossy.end() - 1}, "cut short"},
        {"lossless cut in half", {lossless.begin(), lossless.begin() + long(lossless.size() / 2)},
         "cut short"},
        {"lossless header only", {lossless.begin(), lossless.begin() + 30}, "cut short"},
        {"garbage after the header", LosslessClaiming(100, 100), ""},
        // Found by fuzzing: a VP8X header claiming 1537 x 262145 pixels with alpha, and
        // nothing behind it; refused before the picture is allocated.
        {"extended header, then the end",
         {'R', 'I', 'F', 'F', 0xAC, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0, 0,
          0x70, 0x40, 0x10, 0, 0, 6, 0, 0, 0, 4, 0, 0, 0x41, 0x60, 0},
         "cut short"},
        // Found by fuzzing: a VP8X header claiming 205 x 4544257 pixels and a misnamed chunk
        // where the bitstream should be; refused before the picture is allocated.
        // Found by fuzzing: a lossy frame header claiming 16383 x 16383 pixels and no data;
        // refused after a look at its top rows, before the picture's 800 MB are taken.
        {"largest lossy frame, no data",
         Bytes(std::string("\x52\x49\x46\x46\x98\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x20\x8c\x00\x00\x00\xb0\x03\x00\x9d"
                           "\x01\x2a\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"
                           "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"
                           "\xff\x2f\x02\x50\xaa\x25\xf3\x1c\x40\xd7\x86\xdb\x08\x00\x08\xe7\x6d\x2b\x00\x00\xfa\x00\xca\x2a"
                           "\xd0\xf8\xd4\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"
                           "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\x2f\x02\x50\xaa\x25\xf3\x1c\x40\xd7\x86"
                           "\xdb\x08\x00\x08\xe7\x6d\x2b\x00\x00\xfa\x00\xca\x2a\xd0\xf8\xd4",
                           160)),
         "cut short"},
        {"extended header, bitstream under a wrong name", Bytes(std::string(
             "\x52\x49\x46\x46\xcc\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x58\x0a\x00"
             "\x00\x00\x08\x00\x46\x46\xcc\x00\x00\x00\x57\x45\x42\x56\x38\x20\x8c\x00"
             "\x00\x00\xb0\x04\x00\x9d\x01\x2a\x21\x00\x11\x00\x3e\x61\x24\x90\x45\xa4"
             "\x22\x21\x9a\xad\xfe\x00\x40\x06\x04\xb4\x00\x5d\x99\x8b\xe4\xaf\x60\x00"
             "\x18\xc1\x72\x61\x40\x25\xe6\x4d\x8b\xff\x6e\x00\x00\xfe\xfd\xa7\x30\x46"
             "\xfe\x0e\x54\xee\x17\x5c\x0c\xdc\xde\x60\xa6\xff\xe2\x5c\x08\xff\x7c\x68"
             "\xfd\xa9\x0f\x28\xfe\x85\xf1\xd0\xdf\x91\x91\xc4\x14\x8a\xd6\xbb\x93\xb2"
             "\xce\x52\xe2\x86\xaf\xef\x8f\xff\x06\xfc\xbb\xa4\xfb\xb3\x19\x97\xa7\xff"
             "\x82\xf0\x8d\x26\x27\x65\xee\xcc\xf6\xb3\xdd\x5a\xb8\x77\xeb\xdf\x89\x5e"
             "\x84\xec\xc2\xc7\xeb\x24\x2b\x38\x7e\xb2\xd7\x06\xc6\x40\x00\x00\x45\x58"
             "\x49\x46\x1a\x00\x00\x00\x49\x49\x2a\x00\x08\x00\x00\x00\x01\x00\x12\x01"
             "\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00",
             212)), ""},
        {"animation without frames", AnimationClaiming(20, 20), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.bytes, PXFORMAT_WEBP, img));
        EXPECT_STRNE(img.GetLastError(), "");
        EXPECT_NE(std::string(img.GetLastError()).find(c.reason), std::string::npos)
            << img.GetLastError();
    }
    // Flipped bytes anywhere: a clean failure or some picture, never a crash.
    for (size_t at = 12; at < lossless.size(); at += 7) {
        std::vector<uint8_t> bad = lossless;
        bad[at] ^= 0x5A;
        PxImage img;
        if (!DecodeMemory(bad, PXFORMAT_WEBP, img)) {
            EXPECT_STRNE(img.GetLastError(), "");
        }
    }
}

// Odd but valid layouts, read as dwebp reads them.
TEST(WebpCodec, ReadsOddLayoutsAsDwebpDoes)
{
    PxImage rgb = Noise(24, 13, 7, false, 8), rgba = WithAlpha(Noise(24, 9, 6, false, 9));
    auto withChunk = [](std::vector<uint8_t> b, std::vector<uint8_t> chunk) {
        b.insert(b.end(), chunk.begin(), chunk.end());
        const uint32_t size = uint32_t(b.size() - 8);
        for (int i = 0; i < 4; ++i)
            b[4 + size_t(i)] = uint8_t(size >> (8 * i));
        return b;
    };
    std::vector<uint8_t> trailing = Encode(rgba, 70);
    trailing.insert(trailing.end(), 100, 0xEE);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    } const cases[] = {
        {"unknown chunk behind a simple file",
         withChunk(Encode(rgb, 0, true), {'J', 'U', 'N', 'K', 2, 0, 0, 0, 1, 2})},
        {"bytes behind the RIFF size", trailing},
        {"extended file, unknown chunk behind",
         withChunk(Encode(rgba, 0, true), {'J', 'U', 'N', 'K', 1, 0, 0, 0, 7, 0})},
    };
    TempFolder temp;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = temp.Fs("odd.webp");
        WriteFileBytes(file, c.bytes);
        const auto reference = Dwebp(file);
        ASSERT_TRUE(reference);
        PxImage img;
        ASSERT_TRUE(DecodeMemory(c.bytes, PXFORMAT_WEBP, img)) << img.GetLastError();
        EXPECT_EQ(ToRgba(img), *reference);
    }
}

// Large pictures are looked at (their top rows decoded) before they are allocated: the look
// must not refuse a valid one.
TEST(WebpCodec, LargePicturesDecode)
{
    PxImage big;
    ASSERT_TRUE(big.Create(2100, 2100, 24));
    for (uint32_t y = 0; y < 2100; y += 100)
        std::memset(big.GetBits(y), int(y / 10), big.GetEffWidth());
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "alpha" : "opaque");
        if (alpha)
            big.AlphaCreate();
        const auto bytes = Encode(big, 0, true);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, back)) << back.GetLastError();
        EXPECT_EQ(ToRgba(back), ToRgba(big));
    }
}

TEST(WebpCodec, RefusesPicturesBeyondTheFormatsSize)
{
    PxImage wide;
    ASSERT_TRUE(wide.Create(16384, 1, 24));
    PxMemFile mem;
    EXPECT_FALSE(wide.Encode(mem, PXFORMAT_WEBP));
    EXPECT_NE(std::string(wide.GetLastError()).find("16383"), std::string::npos);
}

std::string SrgbProfile()
{
    TempFolder temp;
    const auto path = temp.Fs("srgb.icc");
    Python("from PIL import ImageCms\nimport sys\n"
           "open(sys.argv[1], 'wb').write(ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB'))"
           ".tobytes())\n",
           {path.string()});
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string Get(const std::filesystem::path &webp, const char *what)
{
    const auto out = webp.string() + "." + what;
    if (Shell(std::string("webpmux -get ") + what + " '" + webp.string() + "' -o '" + out + "'") != 0)
        return {};
    const auto bytes = ReadFileBytes(out);
    return std::string(bytes.begin(), bytes.end());
}

TEST(WebpCodec, MetadataTravelsWithKeepMetadata)
{
    TestExif exif;
    exif.orientation = 6;
    exif.pixelWidth = 999;
    exif.pixelHeight = 999;
    auto metadata = std::make_shared<PxMetadata>();
    metadata->exif = MakeExifBlock(exif);
    metadata->icc = SrgbProfile();
    metadata->xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
    ASSERT_FALSE(metadata->icc.empty());
    PxImage src = Gradient(40, 30);
    src.SetMetadata(metadata);
    for (bool lossless : {false, true}) {
        SCOPED_TRACE(lossless ? "lossless" : "lossy");
        const auto bytes = Encode(src, 0, lossless);
        TempFolder temp;
        const auto file = temp.Fs("meta.webp");
        WriteFileBytes(file, bytes);
        // As libwebp's own tool sees the chunks: the TIFF structure without "Exif\0\0".
        const std::string chunk = Get(file, "exif");
        ASSERT_GE(chunk.size(), 8u);
        EXPECT_EQ(chunk.substr(0, 4), std::string("II*\0", 4));
        EXPECT_EQ(Get(file, "icc"), metadata->icc);
        EXPECT_EQ(Get(file, "xmp"), metadata->xmp);
        ASSERT_TRUE(Dwebp(file));

        PxImage kept;
        kept.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, kept)) << kept.GetLastError();
        ASSERT_TRUE(kept.GetMetadata());
        const PxMetadata &back = *kept.GetMetadata();
        EXPECT_EQ(back.exif.substr(0, 6), std::string("Exif\0\0", 6));
        EXPECT_NE(back.exif.find(exif.date), std::string::npos);
        EXPECT_NE(back.exif.find(exif.make), std::string::npos);
        EXPECT_EQ(back.exif.find(exif.thumbnail), std::string::npos); // thumbnail dropped
        EXPECT_EQ(back.icc, metadata->icc);
        EXPECT_EQ(back.xmp, metadata->xmp);
        EXPECT_EQ(kept.GetExifOrientation(), 6u);
        EXPECT_EQ(kept.GetColourProfile(), "") << "settled by the decode";
        // The block describes the written picture's size: PixelXDimension (0xA002) and
        // PixelYDimension (0xA003), SHORT, are 40 and 30 instead of 999.
        EXPECT_NE(back.exif.find(std::string("\x02\xA0\x03\0\x01\0\0\0\x28\0\0\0", 12)),
                  std::string::npos);
        EXPECT_NE(back.exif.find(std::string("\x03\xA0\x03\0\x01\0\0\0\x1E\0\0\0", 12)),
                  std::string::npos);

        // Without keep: no metadata, but the orientation is still known, and an sRGB
        // profile leaves the pixels as they are.
        PxImage plain;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, plain));
        EXPECT_FALSE(plain.GetMetadata());
        EXPECT_EQ(plain.GetExifOrientation(), 6u);
        EXPECT_EQ(plain.GetColourProfile(), "");
        EXPECT_EQ(ToRgba(plain), ToRgba(kept));
    }

    // A phone's Display P3 reaches the conversion: without keep the pixels come out in sRGB.
    auto p3 = std::make_shared<PxMetadata>(*metadata);
    p3->icc = pxcolour::ProfileFromNclx(12, 13);
    ASSERT_FALSE(p3->icc.empty());
    src.SetMetadata(p3);
    const auto bytes = Encode(src, 0, true);
    PxImage kept, plain;
    kept.SetKeepMetadata(true);
    ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, kept));
    ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_WEBP, plain));
    ASSERT_TRUE(kept.GetMetadata());
    EXPECT_EQ(kept.GetMetadata()->icc, p3->icc);
    EXPECT_EQ(ToRgba(kept), ToRgba(src)) << "lossless, and kept as stored";
    EXPECT_NE(ToRgba(plain), ToRgba(kept));
}

// A camera's EXIF chunk added by webpmux: the orientation is reported and AutoOrient turns the
// picture by it, also when the metadata is not kept.
TEST(WebpCodec, ExifOrientationIsReadSoAutoOrientTurns)
{
    TempFolder temp;
    PxImage src = Noise(24, 6, 4, false, 7);
    WriteFileBytes(temp.Fs("plain.webp"), Encode(src, 0, true));
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        TestExif exif;
        exif.orientation = 6;
        exif.bigEndian = bigEndian;
        const std::string block = MakeExifBlock(exif).substr(6);
        WriteFileBytes(temp.Fs("exif.bin"), std::vector<uint8_t>(block.begin(), block.end()));
        const auto file = temp.Fs("oriented.webp");
        ASSERT_EQ(Shell("webpmux -set exif '" + temp.Fs("exif.bin").string() + "' '" +
                      temp.Fs("plain.webp").string() + "' -o '" + file.string() + "'"),
                  0);
        for (bool keep : {false, true}) {
            PxImage img;
            img.SetKeepMetadata(keep);
            ASSERT_TRUE(DecodeFile(file, PXFORMAT_WEBP, img)) << img.GetLastError();
            EXPECT_EQ(img.GetExifOrientation(), 6u);
            EXPECT_EQ(img.GetWidth(), 6u);
            ASSERT_TRUE(img.AutoOrient());
            EXPECT_EQ(img.GetWidth(), 4u);
            EXPECT_EQ(img.GetHeight(), 6u);
            EXPECT_EQ(img.GetExifOrientation(), 1u);
            // Orientation 6: the stored top-left pixel ends at the top right.
            EXPECT_EQ(img.GetPixelColor(3, 5, false), src.GetPixelColor(0, 3, false));
        }
    }
}

} // namespace
