#pragma once
// The engine's formats, each declared once: its code, its name, the file extensions that name
// it, what the engine can do with it and where content detection tries it. Everything else
// that knows about formats (the extension map, detection, the codec dispatch, the tools' format
// lists, the conversions before a save) reads this table.

#include <cstdint>
#include <span>
#include <string>

struct PxFormatInfo {
    uint32_t code;
    // Short lower-case name for people and tools ("jpeg", "tiff").
    const char *name;
    // The extensions FormatFromExtension maps to this format (without the dot, lower case).
    const char *extensions[4];
    // An extension that names this format only as a save target: the format has no mapped
    // extension (files of it are found by their content), but a file saved under this
    // extension must still be written in it.
    const char *targetExtension;
    bool canRead;
    bool canWrite;
    // 1-based position in content detection; 0 = only read when named.
    int detectionRank;
    // A save with conversions raises a smaller depth to 24 bits first (JPEG, JPEG 2000 and
    // the photo formats of phones and the web).
    bool saveAsTrueColour;
    // A save with conversions reduces true colour to a palette of 256 first (GIF).
    bool saveAsPalette;
    // The writer stores a palette image of fewer bits per pixel at this depth, so the file
    // reads back deeper than the image it was written from (TGA: 8); 0 when it keeps the depth.
    uint32_t storedMinimumDepth;
    // What a written file can carry beside its pixels: an ICC profile (else a profiled
    // picture is brought to sRGB before it is written), and an EXIF block and XMP packet.
    bool holdsColourProfile = false;
    bool holdsExif = false;
    // The encoder takes a quality (1 to 100) / can store the pixels exactly.
    bool hasQuality = false;
    bool hasLossless = false;
};

// Every format the engine knows, in code order.
std::span<const PxFormatInfo> PxFormats();
// The row of a format code, or nullptr.
const PxFormatInfo *PxFindFormat(uint32_t code);

// Maps a file extension (without the dot, any letter case) to a format code; 0 when unknown.
uint32_t FormatFromExtension(const std::string &extension);
// The format a file saved under this extension is written in: FormatFromExtension, or a
// format whose target extension it is; 0 when none.
uint32_t FormatForSaveExtension(const std::string &extension);
// The extensions a file can be saved under (mapped and target extensions of every format the
// engine writes), in code order.
std::string WritableExtensionList(const char *separator);
