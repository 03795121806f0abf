#pragma once
// Private to the engine: the codec entry points behind PxImage::Decode and PxImage::Encode,
// and the shared helpers that keep every decoder honest about sizes.
//
// A Decode function fills a fresh image and returns false with the image's last-error text set
// when the data is not its format or is broken; the dispatcher moves a successful result into
// the target. An Encode function writes the image as it is and reports failure the same way.
// Inside a codec, failures are raised with PxThrow and caught at the codec's entry point; no
// exception ever crosses a C library's frames.

#include "pxfile.h"
#include "pximage.h"

#include <cstdarg>
#include <cstdint>
#include <string>

struct PxError {
    std::string text;
};

[[noreturn]] void PxThrow(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Runs body(); a PxError (or a bad_alloc) becomes false plus the text on image.
template <typename Body>
bool PxGuard(PxImage &image, Body &&body)
{
    try {
        return body();
    } catch (const PxError &e) {
        image.SetLastError(e.text.c_str());
    } catch (const std::bad_alloc &) {
        image.SetLastError("PxImage::Create can't allocate memory");
    }
    return false;
}

// A std::unique_ptr deleter that hands the pointer to its C library's own free function.
template <auto Free>
struct PxFreeWith {
    template <typename T>
    void operator()(T *p) const
    {
        Free(p);
    }
};

// Checked size arithmetic: true when a * b overflows 64 bits (then *out is not meaningful).
bool PxMulOverflows(uint64_t a, uint64_t b, uint64_t *out);
// Bytes of one stored row of width pixels at bpp bits, padded to `align` bytes; 0 on overflow.
uint64_t PxRowBytes(uint64_t width, uint64_t bpp, uint64_t align);
// Throws unless an image of this size fits the engine's memory cap. `what` names the codec.
void PxCheckDimensions(const char *what, uint64_t width, uint64_t height, uint64_t bpp);
// Throws unless `claimed` bytes of pixel data fit into the `available` bytes the file has left.
void PxCheckFileHolds(const char *what, uint64_t claimed, int64_t available);

// The header readers stop each decoder just before it would allocate the picture, so they
// accept and refuse exactly what it does up to there.
namespace pxcodec {
bool DecodeBMP(PxFile &f, PxImage &out);
bool HeaderBMP(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeBMP(PxFile &f, PxImage &img);
bool DecodeJPEG(PxFile &f, PxImage &out);
bool HeaderJPEG(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeJPEG(PxFile &f, PxImage &img);
bool DecodePNG(PxFile &f, PxImage &out);
bool HeaderPNG(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodePNG(PxFile &f, PxImage &img);
bool DecodeTIFF(PxFile &f, PxImage &out);
bool HeaderTIFF(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeTIFF(PxFile &f, PxImage &img);
bool DecodeGIF(PxFile &f, PxImage &out);
bool HeaderGIF(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeGIF(PxFile &f, PxImage &img);
bool DecodeICO(PxFile &f, PxImage &out);
bool HeaderICO(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeICO(PxFile &f, PxImage &img);
bool DecodeTGA(PxFile &f, PxImage &out);
bool HeaderTGA(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeTGA(PxFile &f, PxImage &img);
bool DecodePCX(PxFile &f, PxImage &out);
bool HeaderPCX(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodePCX(PxFile &f, PxImage &img);
bool DecodeWBMP(PxFile &f, PxImage &out);
bool HeaderWBMP(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeWBMP(PxFile &f, PxImage &img);
bool DecodeWMF(PxFile &f, PxImage &out);
bool HeaderWMF(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool DecodeWEBP(PxFile &f, PxImage &out);
bool HeaderWEBP(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeWEBP(PxFile &f, PxImage &img);
bool DecodeJXL(PxFile &f, PxImage &out);
bool HeaderJXL(PxFile &f, PxImage &out, PxHeaderInfo &info);
bool EncodeJXL(PxFile &f, PxImage &img);
// The payload of a JPEG XL "Exif" box (a big-endian offset to the TIFF header, then the TIFF
// structure) as an EXIF block in JPEG's APP1 form; "" when it does not hold together.
std::string ExifFromJxlBox(const std::string &box);
// HEIC and AVIF: the format code picks the encoder; a decode reads either container.
bool DecodeHEIF(PxFile &f, PxImage &out, uint32_t format);
bool HeaderHEIF(PxFile &f, PxImage &out, PxHeaderInfo &info, uint32_t format);
bool EncodeHEIF(PxFile &f, PxImage &img, uint32_t format);
// The primary picture's first EXIF block in JPEG's APP1 form, read from where the stream stands
// without decoding a picture; blocks larger than maxBytes are passed over. "" when there is
// none or the file is no HEIF file.
std::string ExifHEIF(PxFile &f, size_t maxBytes);
bool DecodeJ2K(PxFile &f, PxImage &out, uint32_t format);
bool HeaderJ2K(PxFile &f, PxImage &out, PxHeaderInfo &info, uint32_t format);
bool EncodeJ2K(PxFile &f, PxImage &img, uint32_t format);
} // namespace pxcodec
