// Megapixels per second of the JPEG and PNG codecs at the LoadImageFile / SaveImageFile level,
// each beside the bare library doing the same work (libjpeg-turbo or libpng into or out of a
// plain buffer of the same pixels), with the ratio engine time / library time.
//
// bench_codecs [photo.jpg] [runs]   (default: /tmp/pixorta-photos/photo02.jpg, 4224 x 3168)
// JPEG is encoded at quality 90 by both sides; PNG with libpng's default settings by both.
// Files go to the temporary folder; the best of `runs` timings (thread CPU time) is kept
// (default 5; PNG at most 3).

#include "imageio/imagefile.h"
#include "engine/pximage.h"

#include <jpeglib.h>
#include <png.h>

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// CPU time of this thread, not wall time: the machine is shared, and a run that was merely
// descheduled says nothing about the code. Page faults count (they are system time).
double BestSeconds(int runs, const std::function<void()> &work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const double start = ThreadSeconds();
        work();
        best = std::min(best, ThreadSeconds() - start);
    }
    return best;
}

struct Plain {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb; // rows top first, red-green-blue
};

bool JpegDecodePlain(const std::string &path, Plain &out)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    // A fresh buffer per decode, as the engine gets a fresh image: both pay the page faults.
    out.rgb = std::vector<uint8_t>(static_cast<size_t>(out.width) * out.height * 3);
    while (cinfo.output_scanline < out.height) {
        JSAMPROW row = out.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return true;
}

bool JpegEncodePlain(const Plain &in, const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = in.width;
    cinfo.image_height = in.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, FALSE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < in.height) {
        JSAMPROW row = const_cast<uint8_t *>(in.rgb.data()) +
                       static_cast<size_t>(cinfo.next_scanline) * in.width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(f) == 0;
}

bool PngDecodePlain(const std::string &path, Plain &out)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    png_read_update_info(png, info);
    out.rgb = std::vector<uint8_t>(static_cast<size_t>(out.width) * out.height * 3);
    std::vector<png_bytep> rows(out.height);
    for (uint32_t y = 0; y < out.height; ++y)
        rows[y] = out.rgb.data() + static_cast<size_t>(y) * out.width * 3;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return true;
}

bool PngEncodePlain(const Plain &in, const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, in.width, in.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < in.height; ++y)
        png_write_row(png, in.rgb.data() + static_cast<size_t>(y) * in.width * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

void Report(const char *what, double megapixels, double engine, double library)
{
    std::printf("%-12s engine %7.1f MP/s (%.3f s)   library %7.1f MP/s (%.3f s)   ratio %.2f\n",
                what, megapixels / engine, engine, megapixels / library, library,
                engine / library);
}

} // namespace

int main(int argc, char **argv)
{
    const std::string photo = argc > 1 ? argv[1] : "/tmp/pixorta-photos/photo02.jpg";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int pngRuns = std::max(1, std::min(runs, 3));
    Plain plain;
    if (!JpegDecodePlain(photo, plain)) {
        std::fprintf(stderr, "cannot read %s (run shared/photos/fetch-photos.sh)\n",
                     photo.c_str());
        return 1;
    }
    const double mp = double(plain.width) * plain.height / 1e6;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string jpgOut = (dir / "bench_codecs_engine.jpg").string();
    const std::string jpgLib = (dir / "bench_codecs_library.jpg").string();
    const std::string pngOut = (dir / "bench_codecs_engine.png").string();
    const std::string pngLib = (dir / "bench_codecs_library.png").string();
    std::printf("%s: %u x %u, %.1f megapixels, best of %d (PNG %d)\n", photo.c_str(),
                plain.width, plain.height, mp, runs, pngRuns);

    PxImage image;
    bool ok = true;
    const double jpegDecode = BestSeconds(runs, [&] {
        image.Destroy();
        ok = ok && LoadImageFile(image, QString::fromStdString(photo));
    });
    const double jpegDecodeLib = BestSeconds(runs, [&] { ok = ok && JpegDecodePlain(photo, plain); });
    const double jpegEncode =
        BestSeconds(runs, [&] { ok = ok && SaveImageFile(image, QString::fromStdString(jpgOut)); });
    const double jpegEncodeLib = BestSeconds(runs, [&] { ok = ok && JpegEncodePlain(plain, jpgLib); });

    ok = ok && PngEncodePlain(plain, pngLib); // the file both PNG decoders read
    const double pngDecode = BestSeconds(pngRuns, [&] {
        image.Destroy();
        ok = ok && LoadImageFile(image, QString::fromStdString(pngLib));
    });
    const double pngDecodeLib = BestSeconds(pngRuns, [&] { ok = ok && PngDecodePlain(pngLib, plain); });
    const double pngEncode =
        BestSeconds(pngRuns, [&] { ok = ok && SaveImageFile(image, QString::fromStdString(pngOut)); });
    const double pngEncodeLib = BestSeconds(pngRuns, [&] { ok = ok && PngEncodePlain(plain, pngLib); });
    if (!ok) {
        std::fprintf(stderr, "a load or save failed: %s\n", image.GetLastError());
        return 1;
    }

    Report("JPEG decode", mp, jpegDecode, jpegDecodeLib);
    Report("JPEG encode", mp, jpegEncode, jpegEncodeLib);
    Report("PNG decode", mp, pngDecode, pngDecodeLib);
    Report("PNG encode", mp, pngEncode, pngEncodeLib);
    std::printf("targets: JPEG decode and encode ratio at most 1.15\n");
    for (const auto &p : {jpgOut, jpgLib, pngOut, pngLib})
        std::filesystem::remove(p);
    return 0;
}
