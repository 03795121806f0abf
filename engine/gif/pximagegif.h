#pragma once
// The engine's own GIF codec: writes one image as a GIF89a file (run-length, LZW or plain codes,
// or tiles with local colour tables for true colour) and reads the first image of a file.

#include "engine/pximage.h"

#include <cstdint>
#include <string>

class PxFile;

class PxImageGIF : public PxImage {
public:
    PxImageGIF() : PxImage(PXFORMAT_GIF) {}

    // Writes this image; false (and no bytes) when there is nothing valid to write. Write errors
    // of the LZW and plain coders only set "Write Error in GIF file": the caller judges the
    // stream.
    bool Encode(PxFile &file);
    // Reads the first image of the file into this image, at the size of the logical screen.
    // With headerOnly set, stops where the picture would be allocated and reports its size there.
    bool Decode(PxFile &file, PxHeaderInfo *headerOnly = nullptr);

    // Disposal method of the graphic control extension, 0 to 7.
    int32_t GetDisposalMethod() const { return m_disposal; }
    void SetDisposalMethod(int32_t method) { m_disposal = method & 7; }
    // At most 255 bytes; a longer text is cut.
    const std::string &GetComment() const { return m_comment; }
    void SetComment(const std::string &text) { m_comment = text.substr(0, 255); }

private:
    void EncodeHeader(PxFile &file);
    void EncodeExtension(PxFile &file);
    void EncodeComment(PxFile &file);
    void EncodeBody(PxFile &file, bool localTable = false);
    bool EncodeRGB(PxFile &file);
    void compressNONE(int initBits, PxFile &file);
    void compressLZW(int initBits, PxFile &file);
    void compressRLE(int initBits, PxFile &file);

    int32_t m_disposal = 0;
    std::string m_comment;
};
