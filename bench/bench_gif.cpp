// Megapixels per second of the GIF writer on a 12-megapixel photo reduced to an 8-bit octree
// palette, as the GIF save path does: the run-length coder (the default), LZW and plain codes,
// the tiled true-colour path on the unreduced picture, and reading each written file back.
// Files go through the engine's buffered file stream into the temporary folder.
//
// bench_gif [photo.jpg]   (default: /tmp/pixorta-photos/photo12.jpg, 4272 x 2848)

#include "imageio/octreequantizer.h"
#include "engine/pxfile.h"
#include "engine/pximage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

double BestSeconds(int runs, const std::function<void()> &body)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        body();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : "/tmp/pixorta-photos/photo12.jpg";
    PxImage photo;
    if (!photo.Load(path, PXFORMAT_JPG)) {
        std::fprintf(stderr, "cannot load %s (%s); fetch the photos with "
                             "/work/shared/photos/fetch-photos.sh /tmp/pixorta-photos\n",
                     path.c_str(), photo.GetLastError());
        return 1;
    }
    if (photo.GetBpp() != 24 && !photo.IncreaseBpp(24)) {
        std::fprintf(stderr, "cannot make %s true colour\n", path.c_str());
        return 1;
    }
    const double mp = photo.GetWidth() * double(photo.GetHeight()) / 1e6;
    std::printf("%s: %u x %u = %.1f MP\n", path.c_str(), photo.GetWidth(), photo.GetHeight(), mp);

    PxImage palette(photo);
    const double quantize = BestSeconds(1, [&] { QuantizeToPalette(palette, 8); });
    std::printf("octree palette (setup, not counted below): %.2f s, %u bpp\n", quantize,
                palette.GetBpp());

    struct Coder {
        const char *name;
        uint32_t option;
        PxImage *image;
        int runs;
    };
    const Coder coders[] = {{"run-length (default)", 0, &palette, 3},
                            {"LZW (codec option 2)", 2, &palette, 3},
                            {"plain codes (codec option 1)", 1, &palette, 3},
                            {"true colour (24-bit tiles)", 0, &photo, 1}};
    std::printf("%-30s %10s %10s %12s %12s\n", "GIF coder", "encode s", "MP/s", "bytes",
                "decode MP/s");
    for (const Coder &c : coders) {
        c.image->SetCodecOption(c.option);
        // Through a buffered file, as the save path writes.
        const std::filesystem::path out = std::filesystem::temp_directory_path() / "bench_gif.gif";
        const double s = BestSeconds(c.runs, [&] {
            if (!c.image->Save(out, PXFORMAT_GIF))
                std::fprintf(stderr, "encode failed: %s\n", c.image->GetLastError());
        });
        std::vector<uint8_t> file(std::filesystem::file_size(out));
        if (FILE *f = std::fopen(out.c_str(), "rb")) {
            file.resize(std::fread(file.data(), 1, file.size(), f));
            std::fclose(f);
        }
        std::filesystem::remove(out);
        // The reader gives the first frame only; for the tiled file that is one tile.
        const double d = BestSeconds(c.runs, [&] {
            PxImage back;
            if (!back.Decode(file.data(), file.size(), PXFORMAT_GIF))
                std::fprintf(stderr, "decode failed: %s\n", back.GetLastError());
        });
        std::printf("%-30s %10.3f %10.1f %12zu %12.1f\n", c.name, s, mp / s, file.size(), mp / d);
    }
    return 0;
}
