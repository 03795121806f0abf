// Megapixels per second of the colour operations on a 12-megapixel true-colour picture:
// Light, GrayScale, and the GIF save path's octree palette plus nearest-colour mapping.
//
// bench_colour [photo.jpg]   (default: /tmp/pixorta-photos/photo02.jpg when present)
// The photo is decoded by the engine and cropped or tiled to 4000 x 3000; a synthetic
// picture of gradients and noise is always measured too.

#include "imageio/octreequantizer.h"
#include "engine/pximage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <time.h>
#include <vector>

namespace {

constexpr uint32_t kWidth = 4000, kHeight = 3000;

// A photo tiled (or cut) to kWidth x kHeight.
bool LoadPhoto(const std::string &path, PxImage &out)
{
    PxImage photo;
    if (!photo.Load(path, PXFORMAT_JPG) || !photo.IncreaseBpp(24))
        return false;
    const uint32_t w = photo.GetWidth(), h = photo.GetHeight();
    if (!out.Create(kWidth, kHeight, 24))
        return false;
    // Rows and pixels are both stored as blue-green-red, bottom-up, in photo and result.
    for (uint32_t y = 0; y < kHeight; ++y) {
        const uint8_t *src = photo.GetBits(h - 1 - y % h);
        uint8_t *dst = out.GetBits(kHeight - 1 - y);
        for (uint32_t x = 0; x < kWidth; ++x, dst += 3) {
            const uint8_t *p = src + 3 * (x % w);
            dst[0] = p[0];
            dst[1] = p[1];
            dst[2] = p[2];
        }
    }
    return true;
}

void MakeSynthetic(PxImage &out)
{
    out.Create(kWidth, kHeight, 24);
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint8_t *dst = out.GetBits(y);
        for (uint32_t x = 0; x < kWidth; ++x, dst += 3) {
            const double r = 255.0 * x / kWidth, g = 255.0 * y / kHeight;
            const double b = 128 + 100 * std::sin(x * 0.004 + y * 0.003);
            dst[0] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(b) + noise(rng), 0, 255));
            dst[1] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(g) + noise(rng), 0, 255));
            dst[2] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(r) + noise(rng), 0, 255));
        }
    }
}

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Best of `runs` timings of op on a fresh copy of the source (the copy is not timed), as CPU
// time of this process, so that other work on a shared machine does not count, and wall time.
void Report(const char *what, const PxImage &source, int runs,
            const std::function<bool(PxImage &)> &op)
{
    double bestCpu = 1e30, bestWall = 1e30;
    for (int i = 0; i < runs; ++i) {
        PxImage img(source);
        const double c0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        if (!op(img)) {
            std::printf("  %-40s failed: %s\n", what, img.GetLastError());
            return;
        }
        const auto t1 = std::chrono::steady_clock::now();
        bestCpu = std::min(bestCpu, CpuSeconds() - c0);
        bestWall = std::min(bestWall, std::chrono::duration<double>(t1 - t0).count());
    }
    const double mp = source.GetWidth() * static_cast<double>(source.GetHeight()) / 1e6;
    std::printf("  %-40s %8.1f ms cpu %8.1f MP/s   (wall %8.1f ms)\n", what, bestCpu * 1e3,
                mp / bestCpu, bestWall * 1e3);
}

void RunAll(const char *name, const PxImage &source)
{
    std::printf("%s (%u x %u, %.1f MP)\n", name, source.GetWidth(), source.GetHeight(),
                source.GetWidth() * static_cast<double>(source.GetHeight()) / 1e6);
    Report("Light(20, 10)", source, 3, [](PxImage &i) { return i.Light(20, 10); });
    Report("GrayScale", source, 3, [](PxImage &i) { return i.GrayScale(); });

    PxRGBQuad palette[256] = {};
    uint32_t colours = 0;
    Report("octree palette only", source, 2, [&](PxImage &i) {
        OctreeQuantizer q(256, 8);
        if (!q.ProcessImage(i))
            return false;
        colours = q.GetPalette(palette, 256);
        return true;
    });
    Report("DecreaseBpp(8) with that palette", source, 2,
           [&](PxImage &i) { return i.DecreaseBpp(8, false, palette, colours); });
    Report("QuantizeToPalette(8) in all", source, 2,
           [](PxImage &i) { return QuantizeToPalette(i, 8); });
    std::printf("  palette colours: %u\n", colours);

    // The per-pixel route (GetPixelColor / SetPixelColor with the one-entry cache) on a
    // 1000 x 1000 corner, for comparison with the raw-row mapping above.
    PxImage corner;
    corner.Create(1000, 1000, 24);
    for (uint32_t y = 0; y < 1000; ++y)
        std::copy_n(source.GetBits(y), 3000, corner.GetBits(y));
    Report("per-pixel SetPixelColor mapping (1 MP)", corner, 1, [&](PxImage &i) {
        PxImage out;
        out.Create(i.GetWidth(), i.GetHeight(), 8);
        out.SetPalette(palette, 256);
        for (int y = 0; y < 1000; ++y)
            for (int x = 0; x < 1000; ++x)
                out.SetPixelColor(x, y, i.GetPixelColor(x, y));
        return true;
    });
}

} // namespace

int main(int argc, char **argv)
{
    std::string photo = argc > 1 ? argv[1] : "/tmp/pixorta-photos/photo02.jpg";
    PxImage synthetic;
    MakeSynthetic(synthetic);
    RunAll("synthetic gradients + noise", synthetic);

    PxImage image;
    if (std::filesystem::exists(photo) && LoadPhoto(photo, image))
        RunAll(photo.c_str(), image);
    else
        std::printf("photo %s not available: run /work/shared/photos/fetch-photos.sh\n",
                    photo.c_str());
    return 0;
}
