#pragma once
// Shared by the ICO, TGA, PCX and WBMP codec tests: test pictures of every depth, a round trip
// through a writer, Pillow's view of what a writer produced, and the check that a reader
// without a strong signature refuses every other format's files.

#include "codecsuite.h"

#include <functional>

namespace smallcodecs {

// An image whose pixels follow a pattern that uses every palette entry (or many colours) and
// differs from row to row, so swapped rows, shifted columns and lost bits all show.
inline PxImage Pattern(uint32_t width, uint32_t height, uint32_t bpp)
{
    PxImage img;
    EXPECT_TRUE(img.Create(width, height, bpp, 0)) << img.GetLastError();
    if (bpp <= 8) {
        const uint32_t colours = 1u << bpp;
        for (uint32_t i = 0; i < colours; ++i)
            img.SetPaletteColor(uint8_t(i), uint8_t(i * 37 + 11), uint8_t(255 - i * 13),
                                uint8_t(i * 101 + 7));
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                img.SetPixelIndex(int32_t(x), int32_t(y),
                                  uint8_t((x * 7 + y * 3 + x * y) % colours));
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t *row = img.GetBits(y);
            for (uint32_t x = 0; x < width; ++x) {
                row[3 * x] = uint8_t(x * 5 + y);
                row[3 * x + 1] = uint8_t(y * 9 + 3);
                row[3 * x + 2] = uint8_t((x * y) ^ 0x5A);
            }
        }
    }
    return img;
}

// An alpha plane with fully transparent, partly transparent and opaque pixels.
inline void AddAlpha(PxImage &img)
{
    ASSERT_TRUE(img.AlphaCreate());
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x)
            img.AlphaSet(int32_t(x), int32_t(y), uint8_t((x + 2 * y) % 5 == 0 ? 0 : x * 31 + y));
}

inline PxImage RoundTrip(PxImage &img, uint32_t format, std::vector<uint8_t> *bytes = nullptr)
{
    const std::vector<uint8_t> encoded = codectest::EncodeToMemory(img, format);
    if (bytes)
        *bytes = encoded;
    PxImage back;
    EXPECT_TRUE(codectest::DecodeMemory(encoded, format, back)) << back.GetLastError();
    return back;
}

// Files this engine wrote, each with the picture it should show, checked against Pillow's
// reading of them in one run of the interpreter.
struct Written {
    std::string name;
    std::vector<uint8_t> file;
    std::vector<uint8_t> rgba;
};

inline void ExpectPillowAgrees(const std::vector<Written> &written, const std::string &extension)
{
    TempFolder temp;
    std::vector<codectest::PillowFile> files;
    for (size_t i = 0; i < written.size(); ++i) {
        files.push_back({temp.Fs("written" + std::to_string(i) + "." + extension)});
        WriteFileBytes(files.back().path, written[i].file);
    }
    auto pillow = codectest::PillowRgba(files);
    for (size_t i = 0; i < written.size(); ++i) {
        SCOPED_TRACE(written[i].name);
        const auto &seen = pillow[files[i].path.string()];
        if (!seen) {
            ADD_FAILURE() << "Pillow can't read the file";
            continue;
        }
        EXPECT_EQ(codectest::MaxDiff(*seen, written[i].rgba), 0) << "Pillow sees another picture";
    }
}

// Content detection (format 0) finds every good file of `formats` and reports `code`: no codec
// earlier in the detection order claims them. Returns how many were tried.
inline int DetectedAs(const std::set<std::string> &formats, uint32_t code)
{
    int tried = 0;
    for (const TestImageRef &ref : LoadTestImageRefs()) {
        if (!formats.count(ref.format) || ref.expect != "good")
            continue;
        SCOPED_TRACE(ref.path);
        PxImage img;
        EXPECT_TRUE(codectest::DecodeFile(TestDataDir() / ref.path, PXFORMAT_UNKNOWN, img))
            << img.GetLastError();
        EXPECT_EQ(img.GetType(), code);
        ++tried;
    }
    return tried;
}

// Every file of the public suites that is not of `format` (by content) must be refused by the
// reader `code` when it is asked for that format directly. Returns how many were tried.
inline int RefusesOtherFormats(const std::set<std::string> &formats, uint32_t code)
{
    int tried = 0;
    for (const TestImageRef &ref : LoadTestImageRefs()) {
        if (formats.count(ref.format))
            continue;
        PxImage img;
        if (codectest::DecodeFile(TestDataDir() / ref.path, code, img))
            ADD_FAILURE() << ref.path << " (" << ref.format << ") was taken for this format";
        ++tried;
    }
    return tried;
}

} // namespace smallcodecs
