#pragma once
// Shared by the JPEG, PNG and TIFF codec tests: the image as reference.tsv hashes it, Pillow as
// the independent second decoder, and the walk over one format's files of the public suites.

#include "engine/pxfile.h"
#include "engine/pximage.h"
#include "tests/support/testsupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace codectest {

inline uint32_t IndexAt(const PxImage &img, uint32_t x, uint32_t y)
{
    const uint8_t *row = img.GetBits(y);
    switch (img.GetBpp()) {
    case 8: return row[x];
    case 4: return (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
    default: return (row[x / 8] >> (7 - (x & 7))) & 1;
    }
}

// RGBA rows top first, read from the stored layout (not through the engine's pixel access).
// Alpha: the alpha plane, else 0 for the transparent palette index, else 255.
inline std::vector<uint8_t> ToRgba(const PxImage &img)
{
    const uint32_t w = img.GetWidth(), h = img.GetHeight(), bpp = img.GetBpp();
    const uint32_t colours = img.GetNumColors();
    const int32_t trans = img.GetTransIndex();
    const PxRGBQuad *pal = img.GetPalette();
    std::vector<uint8_t> out(size_t(w) * h * 4);
    uint8_t *dst = out.data();
    for (uint32_t top = 0; top < h; ++top) {
        const uint32_t y = h - 1 - top;
        const uint8_t *row = img.GetBits(y);
        const uint8_t *alpha = img.AlphaIsValid() ? img.AlphaGetPointer(0, int32_t(y)) : nullptr;
        for (uint32_t x = 0; x < w; ++x, dst += 4) {
            PxRGBQuad c;
            uint8_t a = 255;
            if (bpp == 24) {
                c.blue = row[3 * x], c.green = row[3 * x + 1], c.red = row[3 * x + 2];
            } else {
                const uint32_t index = bpp == 8   ? row[x]
                                       : bpp == 4 ? (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15
                                                  : (row[x / 8] >> (7 - (x & 7))) & 1;
                c = index < colours ? pal[index] : PxRGBQuad{};
                if (int32_t(index) == trans)
                    a = 0;
            }
            dst[0] = c.red, dst[1] = c.green, dst[2] = c.blue;
            dst[3] = alpha ? alpha[x] : a;
        }
    }
    return out;
}

// Colour under fully transparent pixels is nobody's business.
inline std::vector<uint8_t> Visible(std::vector<uint8_t> rgba)
{
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        if (rgba[i + 3] == 0)
            rgba[i] = rgba[i + 1] = rgba[i + 2] = 0;
    return rgba;
}

// Largest per-channel difference of the visible pictures; 256 when the sizes differ.
inline int MaxDiff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size())
        return 256;
    const auto va = Visible(a), vb = Visible(b);
    int worst = 0;
    for (size_t i = 0; i < va.size(); ++i)
        worst = std::max(worst, std::abs(int(va[i]) - int(vb[i])));
    return worst;
}

// Pillow (Debian's python3-pil, run by the system interpreter) decodes each file to RGBA rows
// top first. 16-bit and other integer grey samples are reduced the way the engine reduces them
// (high byte; other depths scaled to 8 bits), since Pillow's own RGBA conversion clips them.
// With `undoOrientation`, the transposition Pillow applies for a TIFF Orientation tag is undone,
// giving the stored raster. A file Pillow cannot give a plain answer for maps to nullopt.
// One interpreter run serves all files.
struct PillowFile {
    std::filesystem::path path;
    bool undoOrientation = false;
};

inline std::map<std::string, std::optional<std::vector<uint8_t>>>
PillowRgba(const std::vector<PillowFile> &files)
{
    static const char *kScript = R"PY(
import sys, os
from PIL import Image
out = sys.argv[1]
undo = {2: Image.FLIP_LEFT_RIGHT, 3: Image.ROTATE_180, 4: Image.FLIP_TOP_BOTTOM,
        5: Image.TRANSPOSE, 6: Image.ROTATE_90, 7: Image.TRANSVERSE, 8: Image.ROTATE_270}
for i, arg in enumerate(sys.argv[2:]):
    flag, path = arg.split(':', 1)
    try:
        im = Image.open(path)
        orientation = im.tag_v2.get(274, 1) if hasattr(im, 'tag_v2') else 1
        im.load()
        if im.mode.startswith('I'):
            bits = 16
            tag = getattr(im, 'tag_v2', None)
            if tag is not None and 258 in tag:
                bits = tag[258][0]
            top = (1 << bits) - 1
            trns = im.info.get('transparency')
            data = bytearray()
            for v in im.getdata():
                a = 0 if trns is not None and v == trns else 255
                v = max(0, min(top, int(v)))
                g = v >> 8 if bits == 16 else (v * 255 + top // 2) // top
                data += bytes((g, g, g, a))
        elif im.mode in ('1', 'L', 'LA', 'P', 'PA', 'RGB', 'RGBA', 'RGBa', 'CMYK'):
            im = im.convert('RGBA')
            if flag == 'u' and orientation in undo:
                im = im.transpose(undo[orientation])
            data = im.tobytes()
        else:
            continue
        with open(os.path.join(out, str(i)), 'wb') as f:
            f.write(data)
    except Exception:
        pass
)PY";
    std::map<std::string, std::optional<std::vector<uint8_t>>> result;
    if (files.empty())
        return result;
    TempFolder temp;
    const auto script = temp.Fs("pillow_rgba.py");
    std::ofstream(script) << kScript;
    std::string command = "/usr/bin/python3 '" + script.string() + "' '" + temp.Fs().string() + "'";
    for (const auto &f : files)
        command += std::string(" '") + (f.undoOrientation ? "u:" : "-:") + f.path.string() + "'";
    if (std::system(command.c_str()) != 0)
        return result;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto out = temp.Fs(std::to_string(i));
        if (std::filesystem::exists(out))
            result[files[i].path.string()] = ReadFileBytes(out);
        else
            result[files[i].path.string()] = std::nullopt;
    }
    return result;
}

inline std::optional<std::vector<uint8_t>> PillowRgba(const std::filesystem::path &file)
{
    auto all = PillowRgba(std::vector<PillowFile>{{file}});
    auto it = all.find(file.string());
    return it == all.end() ? std::nullopt : it->second;
}

// ImageMagick's own hash from reference.tsv, for files where it is the trustworthy opinion.
inline std::string MagickHash(const std::string &path)
{
    std::ifstream in(TestDataDir() / "reference.tsv");
    std::string line;
    int column = -1;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            cells.push_back(line.substr(start, tab - start));
        cells.push_back(line.substr(start));
        if (column < 0) {
            for (size_t i = 0; i < cells.size(); ++i)
                if (cells[i] == "magick_rgba_sha256")
                    column = int(i);
            if (column < 0)
                return {};
        } else if (cells[0] == path && int(cells.size()) > column) {
            return cells[size_t(column)];
        }
    }
    return {};
}

// Runs a Python snippet under the system interpreter (which has Pillow) with the arguments in
// sys.argv[1:], and returns what it printed.
inline std::string Python(const std::string &code, const std::vector<std::string> &args = {})
{
    TempFolder temp;
    const auto script = temp.Fs("snippet.py");
    std::ofstream(script) << code;
    std::string command = "/usr/bin/python3 '" + script.string() + "'";
    for (const auto &a : args)
        command += " '" + a + "'";
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

// A picture whose every pixel differs from its neighbours, so that any misplaced row, nibble
// or bit shows: indices cover the whole palette, colours the whole cube.
inline PxImage Noise(uint32_t bpp, uint32_t w, uint32_t h, bool grey = false, uint32_t seed = 1)
{
    PxImage img;
    img.Create(w, h, bpp, 0);
    if (bpp <= 8) {
        if (grey)
            img.SetGrayPalette();
        else
            for (uint32_t i = 0; i < img.GetNumColors(); ++i)
                img.SetPaletteColor(uint8_t(i), uint8_t(i * 37 + 11), uint8_t(i * 91 + 7),
                                    uint8_t(255 - i * 13));
    }
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = img.GetBits(y);
        for (uint32_t i = 0; i < img.GetEffWidth(); ++i) {
            state = state * 1103515245u + 12345u;
            row[i] = uint8_t(state >> 16);
        }
    }
    return img;
}

// A smooth picture, the kind a lossy codec is meant for.
inline PxImage Gradient(uint32_t w, uint32_t h)
{
    PxImage img;
    img.Create(w, h, 24, 0);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *p = img.GetBits(y) + 3 * x;
            p[0] = uint8_t(x * 255 / w);
            p[1] = uint8_t(y * 255 / h);
            p[2] = uint8_t((x + y) * 127 / (w + h) + 64);
        }
    return img;
}

inline double MeanDiff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

inline bool DecodeFile(const std::filesystem::path &path, uint32_t format, PxImage &img)
{
    PxIOFile file;
    if (!file.Open(path, "rb"))
        return false;
    return img.Decode(file, format);
}

inline std::vector<uint8_t> EncodeToMemory(PxImage &img, uint32_t format)
{
    PxMemFile mem;
    EXPECT_TRUE(img.Encode(mem, format)) << img.GetLastError();
    return mem.Buffer();
}

inline bool DecodeMemory(const std::vector<uint8_t> &bytes, uint32_t format, PxImage &img)
{
    return img.Decode(bytes.data(), bytes.size(), format);
}

// What a suite walk may accept beyond an exact reference hash, file by file, with the reason.
struct Allowance {
    const char *reason = "";
    int tolerance = 0;            // against Pillow, where the hash is absent or differs
    bool badMayLoad = false;      // a "bad" file whose first image is in fact intact
    bool useMagick = false;       // Pillow is known wrong here; ImageMagick's hash is the truth
    bool undoOrientation = false; // Pillow turned the picture by its TIFF Orientation tag
    bool skipPixels = false;      // no trustworthy second opinion: loading is what is checked
};

// Walks every file of `format` in the manifest: good files load and match their reference hash
// (or Pillow within the allowance), bad files fail with a text, questionable files only must
// not crash. Returns the number of good files checked.
inline int CheckSuite(const std::string &format, uint32_t code, int defaultTolerance,
                      const std::map<std::string, Allowance> &allowances)
{
    struct Loaded {
        TestImageRef ref;
        std::vector<uint8_t> rgba;
    };
    std::vector<Loaded> needPillow;
    int goodChecked = 0;
    for (const TestImageRef &ref : LoadTestImageRefs()) {
        if (ref.format != format)
            continue;
        SCOPED_TRACE(ref.path + " (" + ref.expect + ")");
        const auto path = TestDataDir() / ref.path;
        const auto it = allowances.find(ref.path);
        const Allowance allow = it == allowances.end() ? Allowance{} : it->second;
        PxImage img;
        const bool ok = DecodeFile(path, code, img);
        if (ref.expect == "bad") {
            if (ok && !allow.badMayLoad)
                ADD_FAILURE() << "a broken file was accepted";
            if (!ok) {
                EXPECT_STRNE(img.GetLastError(), "") << "failure without a reason";
            }
            continue;
        }
        if (ref.expect != "good")
            continue; // questionable: surviving is the test
        ++goodChecked;
        if (!ok) {
            ADD_FAILURE() << "a good file failed: " << img.GetLastError();
            continue;
        }
        if (ref.width > 0 && !allow.undoOrientation) {
            EXPECT_EQ(img.GetWidth(), uint32_t(ref.width));
            EXPECT_EQ(img.GetHeight(), uint32_t(ref.height));
        }
        if (allow.skipPixels)
            continue;
        auto rgba = ToRgba(img);
        const std::string hash = Sha256Hex(rgba.data(), rgba.size());
        if (allow.useMagick) {
            EXPECT_EQ(hash, MagickHash(ref.path)) << allow.reason;
            continue;
        }
        const auto visible = Visible(rgba);
        const std::string visibleHash = Sha256Hex(visible.data(), visible.size());
        if (!ref.rgbaSha256.empty() &&
            (hash == ref.rgbaSha256 || visibleHash == ref.visibleSha256))
            continue;
        needPillow.push_back({ref, std::move(rgba)});
    }
    std::vector<PillowFile> files;
    for (const auto &l : needPillow) {
        const auto it = allowances.find(l.ref.path);
        files.push_back({TestDataDir() / l.ref.path,
                         it != allowances.end() && it->second.undoOrientation});
    }
    auto pillow = PillowRgba(files);
    for (const auto &l : needPillow) {
        SCOPED_TRACE(l.ref.path);
        const auto it = allowances.find(l.ref.path);
        const int tolerance = it == allowances.end() ? defaultTolerance
                                                     : std::max(defaultTolerance, it->second.tolerance);
        const auto expected = pillow[(TestDataDir() / l.ref.path).string()];
        if (!expected) {
            ADD_FAILURE() << "differs from reference.tsv and Pillow gives no plain answer";
            continue;
        }
        EXPECT_LE(MaxDiff(l.rgba, *expected), tolerance) << "against Pillow";
    }
    return goodChecked;
}

// A shell command's exit status, its output dropped.
inline int Shell(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// Peak signal-to-noise ratio of two byte buffers of one layout; 99 when they are equal.
inline double Psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += double(int(a[i]) - int(b[i])) * (int(a[i]) - int(b[i]));
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// The picture with an alpha plane of a pattern every level of which shows.
inline PxImage WithAlpha(PxImage img)
{
    img.AlphaCreate();
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x)
            img.AlphaSet(int32_t(x), int32_t(y), uint8_t((x * 40 + y * 7) & 255));
    return img;
}

inline void WritePng(PxImage &img, const std::filesystem::path &path)
{
    WriteFileBytes(path, EncodeToMemory(img, PXFORMAT_PNG));
}

// The file the encoder writes for img at that quality (0: the format's own) and losslessness.
inline std::vector<uint8_t> EncodeWith(PxImage &img, uint32_t format, uint32_t quality,
                                       bool lossless)
{
    img.SetSaveQuality(quality);
    img.SetLossless(lossless);
    return EncodeToMemory(img, format);
}

} // namespace codectest
