#pragma once
// The one in-memory image of the system: a device-independent-bitmap block (40-byte header,
// blue-green-red-reserved palette, rows bottom-up padded to 4 bytes) plus image information and
// optional alpha and selection planes. Plain C++: the Qt crossings are only declared here.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "pxformats.h"

class PxFile;
class PxPendingSave;
class QPainter;
class QImage;
class QRect;

struct PxRGBQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
    bool operator==(const PxRGBQuad &) const = default;
};
static_assert(sizeof(PxRGBQuad) == 4);

// Field order and sizes of the published BITMAPINFOHEADER; naturally packed to 40 bytes.
struct PxBitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};
static_assert(sizeof(PxBitmapInfoHeader) == 40);

// What a file carried beside its pixels, kept only when asked for before loading: the EXIF
// block (in the form a JPEG's APP1 payload has, "Exif\0\0" on, its thumbnail removed), the ICC
// colour profile and the XMP packet. Every writer writes what its format can hold of it.
struct PxMetadata {
    std::string exif;
    std::string icc;
    std::string xmp;
};

struct PxRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Format codes as Load, Save, Decode and Encode take them.
enum ImageFormat : uint32_t {
    PXFORMAT_UNKNOWN = 0,
    PXFORMAT_BMP = 1,
    PXFORMAT_GIF = 2,
    PXFORMAT_JPG = 3,
    PXFORMAT_PNG = 4,
    PXFORMAT_ICO = 5,
    PXFORMAT_TIF = 6,
    PXFORMAT_TGA = 7,
    PXFORMAT_PCX = 8,
    PXFORMAT_WBMP = 9,
    PXFORMAT_WMF = 10,
    PXFORMAT_JP2 = 11,
    PXFORMAT_JPC = 12,
    PXFORMAT_PGX = 13,
    PXFORMAT_PNM = 14,
    PXFORMAT_RAS = 15,
    PXFORMAT_WEBP = 16,
    PXFORMAT_HEIC = 17,
    PXFORMAT_AVIF = 18,
    PXFORMAT_JXL = 19,
};


inline constexpr uint64_t PXIMAGE_MAX_MEMORY = 256000000;

// While one lives on a thread, the large pixel blocks freed on that thread are kept (two at
// most) for the next images made there, instead of going back to the system: a worker that
// processes one photo after another then neither faults in nor clears fresh memory for each.
// The kept blocks are given back when the last one on the thread goes away.
class PxKeepBlocksOnThisThread {
public:
    PxKeepBlocksOnThisThread();
    ~PxKeepBlocksOnThisThread();
    PxKeepBlocksOnThisThread(const PxKeepBlocksOnThisThread &) = delete;
    PxKeepBlocksOnThisThread &operator=(const PxKeepBlocksOnThisThread &) = delete;
};

// What a file's header tells without its pixels being decoded: the format that reads it and
// the size the full decode gives. A header the decoder would refuse is refused here too; a file
// cut short after its header still passes (only the full decode finds that out).
struct PxHeaderInfo {
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    // What a decode of the file needs beyond its picture where that is much (a progressive
    // JPEG holds all its coefficients, at any scale), in bytes; 0 when it needs little.
    uint64_t decodeMemory = 0;
};

// When the picture was taken, for names made from it: the EXIF DateTimeOriginal of the file
// ("YYYY:MM:DD HH:MM:SS", as EXIF writes it), found without decoding any pixels, in a file whose
// format is found by its content as Load finds it (JPEG, TIFF, PNG, WebP, HEIC, AVIF, JPEG XL).
// "" for any other file, one without that date, and a value that is no date (cameras write
// zeros or blanks while their clock is unset). Only regular files are opened, and no more than
// a few megabytes of one are read, whatever it claims. The stream form reads from where the
// stream stands and leaves it anywhere.
std::string PxReadCaptureDate(const std::filesystem::path &path);
std::string PxReadCaptureDate(PxFile &file);

class PxImage {
public:
    explicit PxImage(uint32_t type = 0);
    PxImage(const PxImage &src, bool copyPixels = true, bool copySelection = true,
            bool copyAlpha = true);
    PxImage &operator=(const PxImage &src);
    ~PxImage();

    // --- lifecycle -------------------------------------------------------------------------
    // Depth is normalised to 1, 4, 8 or 24; palette and rows start zeroed. Returns the block, or
    // nullptr with the last error set when the image would exceed the engine's limits or memory.
    void *Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type = 0);
    // Create for a producer that writes every pixel byte of every row (decoders, resampling):
    // only the palette and each row's padding are cleared, and the rows may hold whatever an
    // earlier image on this thread left (see PxKeepBlocksOnThisThread).
    void *CreateForOverwrite(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type = 0);
    // False (and nothing freed) for a ghost.
    bool Destroy();
    void Copy(const PxImage &src, bool copyPixels = true, bool copySelection = true,
              bool copyAlpha = true);
    // Takes over src's block, information and planes; src is left as a freshly constructed image.
    bool Transfer(PxImage &src);
    // Takes over the pixels of src, a 24-bit picture drawn apart, and keeps this image's own
    // information fields, as reading a drawing surface back with CreateFromHBITMAP does: the
    // planes are dropped and the format code becomes 0. src is left empty. False (and nothing
    // changed) when src is empty, a ghost or not 24-bit, or when this image is a ghost.
    bool AdoptPixels(PxImage &src);
    bool IsValid() const { return m_dib != nullptr; }

    // --- accessors -------------------------------------------------------------------------
    uint32_t GetWidth() const { return static_cast<uint32_t>(m_head.width); }
    uint32_t GetHeight() const { return static_cast<uint32_t>(m_head.height); }
    uint32_t GetBpp() const { return m_head.bitCount; }
    uint32_t GetEffWidth() const { return m_effWidth; }
    uint32_t GetNumColors() const { return m_head.clrUsed; }
    uint32_t GetType() const { return m_info.type; }
    void SetType(uint32_t type) { m_info.type = type; }
    bool IsIndexed() const { return m_head.clrUsed != 0; }
    // True when the palette is the grey ramp of its depth (8 bits: entry i is grey i), so an
    // index can stand for its grey level.
    bool IsGrayScale() const;
    uint8_t *GetBits(uint32_t row = 0) const;
    PxRGBQuad *GetPalette() const;
    PxRGBQuad GetPaletteColor(uint8_t index) const;
    bool GetPaletteColor(uint8_t index, uint8_t *red, uint8_t *green, uint8_t *blue) const;
    void SetPalette(const PxRGBQuad *palette, uint32_t count = 256);
    void SetPaletteColor(uint8_t index, PxRGBQuad colour);
    void SetPaletteColor(uint8_t index, uint8_t red, uint8_t green, uint8_t blue,
                         uint8_t alpha = 0);
    void SetGrayPalette();
    void *GetDIB() const { return m_dib; }
    uint32_t GetSize() const;
    uint32_t GetPaletteSize() const { return m_head.clrUsed * 4; }
    const PxBitmapInfoHeader &GetHeader() const { return m_head; }

    const char *GetLastError() const { return m_info.lastError; }
    // Codecs and operations record why they failed; the text is cut to 255 characters.
    void SetLastError(const char *text);

    uint8_t GetJpegQuality() const { return m_info.jpegQuality; }
    void SetJpegQuality(uint8_t q) { m_info.jpegQuality = q; }
    // Reduced-scale decoding, asked before Load or Decode. A JPEG with a scale of 2 to 8 is
    // decoded at 1/scale of its size (0 and 1: full size).
    uint8_t GetJpegScale() const { return m_info.jpegScale; }
    void SetJpegScale(uint8_t s) { m_info.jpegScale = s; }
    // For a picture that will only be shown fitted into width x height: a JPEG is decoded at
    // the smallest of libjpeg's scales n/8 whose result still covers that fit on both sides,
    // and with the fast integer transform. 0 x 0 (the default) asks for the full picture; a
    // box takes precedence over the JPEG scale.
    void SetDecodeFitBox(uint32_t width, uint32_t height)
    {
        m_info.fitBoxWidth = width;
        m_info.fitBoxHeight = height;
    }
    // Asked before Load or Decode: a JPEG's EXIF block and ICC profile are kept with the image.
    void SetKeepMetadata(bool keep) { m_info.keepMetadata = keep; }
    bool GetKeepMetadata() const { return m_info.keepMetadata; }
    const std::shared_ptr<const PxMetadata> &GetMetadata() const { return m_info.metadata; }
    void SetMetadata(std::shared_ptr<const PxMetadata> metadata)
    {
        m_info.metadata = std::move(metadata);
    }
    // The EXIF orientation a JPEG was loaded with (1 to 8: how the stored rows must be turned
    // to stand upright); 0 when it had none. The picture itself is kept as stored.
    uint32_t GetExifOrientation() const { return m_info.exifOrientation; }
    void SetExifOrientation(uint32_t orientation) { m_info.exifOrientation = orientation; }
    // The colour profile a decoder found (an embedded ICC profile, or one made from a
    // container's colour description), whether or not metadata is kept: Decode uses it to
    // bring the pixels to sRGB and then clears it.
    const std::string &GetColourProfile() const { return m_info.colourProfile; }
    void SetColourProfile(std::string icc) { m_info.colourProfile = std::move(icc); }
    // Brings the pixels from the kept metadata's ICC profile to sRGB and drops the profile from
    // the metadata (a copy: metadata objects are shared), for a file that cannot carry a
    // profile. True, with nothing changed, when there is no profile or it is sRGB's; false when
    // the profile could not be used (the pixels stay as they are, the profile is dropped all
    // the same, so the file comes out as it did before profiles were read).
    bool BringToSrgb();
    // Removes where the picture was taken from the kept metadata (a copy): the EXIF GPS
    // directory and the XMP location properties; everything else stays.
    void StripLocation();
    // Asked before Encode of a format with a quality setting: 1 to 100, or 0 for the format's
    // own default (JPEG keeps reading its own quality field).
    uint32_t GetSaveQuality() const { return m_info.saveQuality; }
    void SetSaveQuality(uint32_t quality) { m_info.saveQuality = quality; }
    // Asked before Encode of a format that can store its pixels exactly (WebP, JPEG XL).
    bool GetLossless() const { return m_info.lossless; }
    void SetLossless(bool lossless) { m_info.lossless = lossless; }
    uint32_t GetDecodeFitWidth() const { return m_info.fitBoxWidth; }
    uint32_t GetDecodeFitHeight() const { return m_info.fitBoxHeight; }
    uint32_t GetCodecOption() const { return m_info.codecOption; }
    void SetCodecOption(uint32_t opt) { m_info.codecOption = opt; }
    int32_t GetTransIndex() const { return m_info.transIndex; }
    void SetTransIndex(int32_t idx) { m_info.transIndex = idx; }
    PxRGBQuad GetTransColor() const;
    PxRGBQuad GetBkColor() const { return m_info.bkColor; }
    void SetBkColor(PxRGBQuad c) { m_info.bkColor = c; }

    int32_t GetXDPI() const { return m_info.xDPI; }
    int32_t GetYDPI() const { return m_info.yDPI; }
    void SetXDPI(int32_t dpi);
    void SetYDPI(int32_t dpi);

    uint32_t GetProgress() const { return m_info.progress; }
    void SetProgress(uint32_t p) { m_info.progress = p; }
    uint32_t GetEscape() const { return m_info.escape; }
    void SetEscape(uint32_t e) { m_info.escape = e; }

    int32_t GetFrame() const { return m_info.frame; }
    void SetFrame(int32_t f) { m_info.frame = f; }
    int32_t GetNumFrames() const { return m_info.numFrames; }
    void SetNumFrames(int32_t n) { m_info.numFrames = n; }
    uint32_t GetFrameDelay() const { return m_info.frameDelay; }
    void SetFrameDelay(uint32_t d) { m_info.frameDelay = d; }
    int32_t GetXOffset() const { return m_info.xOffset; }
    int32_t GetYOffset() const { return m_info.yOffset; }
    void SetOffset(int32_t x, int32_t y) { m_info.xOffset = x; m_info.yOffset = y; }
    uint8_t AlphaGetMax() const { return m_info.alphaMax; }
    void AlphaSetMax(uint8_t m) { m_info.alphaMax = m; }
    bool AlphaPaletteIsEnabled() const { return m_info.alphaPaletteEnabled; }
    void AlphaPaletteEnable(bool on = true) { m_info.alphaPaletteEnabled = on; }
    bool IsEnabled() const { return m_info.enabled; }
    void Enable(bool on = true) { m_info.enabled = on; }
    bool IsGhost() const { return m_info.ghost != nullptr; }
    // Makes this image a non-owning alias of src's block and planes (encoders use it to hand a
    // view to a writer); a ghost never frees what it shows. src must outlive the alias.
    void Ghost(const PxImage &src);

    // --- alpha and selection planes (one byte per pixel, row 0 at the bottom) ---------------
    bool AlphaIsValid() const { return m_alpha != nullptr; }
    bool AlphaCreate();
    void AlphaDelete();
    uint8_t AlphaGet(int32_t x, int32_t y) const;
    void AlphaSet(int32_t x, int32_t y, uint8_t a);
    uint8_t *AlphaGetPointer(int32_t x = 0, int32_t y = 0) const;

    bool SelectionIsValid() const { return m_selection != nullptr; }
    bool SelectionCreate();
    bool SelectionDelete();
    uint8_t *SelectionGetPointer(int32_t x = 0, int32_t y = 0) const;
    bool SelectionIsInside(int32_t x, int32_t y) const;
    PxRect GetSelectionBox() const { return m_info.selectionBox; }

    // --- pixel access and colour operations ----------------------------------------------
    bool IsInside(int32_t x, int32_t y) const;
    uint8_t GetPixelIndex(int32_t x, int32_t y) const;
    void SetPixelIndex(int32_t x, int32_t y, uint8_t index);
    PxRGBQuad GetPixelColor(int32_t x, int32_t y, bool withAlpha = true) const;
    void SetPixelColor(int32_t x, int32_t y, PxRGBQuad colour, bool setAlpha = false);
    // Packed colour with red in the lowest byte, then green, then blue.
    void SetPixelColor(int32_t x, int32_t y, uint32_t packed);
    uint8_t GetNearestIndex(PxRGBQuad colour);
    bool Light(int32_t brightness, int32_t contrast = 0);
    bool Lut(const uint8_t *table);
    bool GrayScale();
    bool IncreaseBpp(uint32_t bits);
    bool DecreaseBpp(uint32_t bits, bool errorDiffusion, const PxRGBQuad *palette = nullptr,
                     uint32_t colorsImportant = 0);

    // --- geometry --------------------------------------------------------------------------
    // Each builds its result apart and moves it into destination (this image when none);
    // false and no change on an empty image, an impossible size or a raised escape field.
    // Modes: 0 bilinear with a box filter for 24-bit shrinking, 1 nearest pixel, 2 bicubic.
    bool Resample(int32_t newWidth, int32_t newHeight, int mode = 0,
                  PxImage *destination = nullptr);
    // Scales into the box keeping the aspect ratio, enlarging as well; a 0 side keeps the size.
    bool ResampleToFit(uint32_t boxWidth, uint32_t boxHeight, int mode);
    // 90 degrees counter-clockwise / clockwise as seen on screen.
    bool RotateLeft(PxImage *destination = nullptr);
    bool RotateRight(PxImage *destination = nullptr);
    // Degrees, positive clockwise on screen; the uncovered corners get the outside value.
    bool Rotate(float angle, PxImage *destination = nullptr);
    // Left and right swapped / top and bottom swapped.
    bool Mirror(PxImage *destination = nullptr);
    bool Flip(PxImage *destination = nullptr);
    // Turns the picture upright by its EXIF orientation (all eight, the mirrored ones too) and
    // records orientation 1, in the kept EXIF block as well. True, with nothing changed, when
    // the orientation is already 1 or unknown.
    bool AutoOrient();
    // Takes the picture as it is now for upright: orientation 1, in the kept EXIF block as
    // well. For a turn made by hand on the stored rows, which replaces the camera's.
    void TakeAsUpright();
    // Keeps the width x height pixels whose top-left corner is left pixels from the left edge
    // and top pixels from the top edge, alpha plane included; the selection is dropped. False,
    // and nothing changed, when the rectangle is empty or does not lie wholly inside the
    // picture.
    bool Crop(uint32_t left, uint32_t top, uint32_t width, uint32_t height,
              PxImage *destination = nullptr);

    // --- sharpening and overlays ------------------------------------------------------------
    // Unsharp masking: every channel of a pixel whose difference d from the picture blurred
    // by a Gaussian of standard deviation radius (more than 0, at most 100 pixels) is more
    // than threshold levels becomes itself plus d x amount / 100, held to 0..255. Indexed
    // pictures become true colour first; the alpha plane stays as it is. False, and nothing
    // changed, for an empty image or a radius, amount (0 to 1000) or threshold (0 to 255)
    // out of range.
    bool UnsharpMask(double radius, int32_t amount, int32_t threshold);
    // A true-colour copy of the picture with an alpha plane holding how much of each pixel
    // drawing it covers: the transparent index or colour 0, the palette's alpha and the alpha
    // plane (scaled by the alpha maximum) as Draw takes them, 255 elsewhere.
    bool CoverageCopy(PxImage &result) const;
    // Resample for a true-colour picture with an alpha plane that keeps what is uncovered
    // from bleeding into what is covered: the colours are resampled weighted by their alpha,
    // the alpha plane with the same filter. Without an alpha plane it is Resample.
    bool ResampleCovered(int32_t newWidth, int32_t newHeight, int mode);
    // Lays overlay, a true-colour picture (its alpha plane, when it has one, saying how much
    // of each pixel it covers), over this one with its top-left corner left pixels from the
    // left edge and top pixels from the top edge, clipped to this picture, at opacity percent
    // (0 to 100) of its coverage. This picture becomes true colour first; where it has an
    // alpha plane, what shows through it counts as well. False, and nothing changed, for an
    // empty image, an overlay that is not true colour or an opacity above 100.
    bool Overlay(const PxImage &overlay, int64_t left, int64_t top, uint32_t opacity);

    // --- files -----------------------------------------------------------------------------
    // Reads regular files only: a pipe, socket or device fails with "not a regular file".
    bool Load(const std::filesystem::path &path, uint32_t format = 0);
    // Writes into a fresh file beside the target and puts it in the target's place only once
    // the whole file reached the disk, so a failed encode, a full disk or a crash never leaves
    // the previous file half overwritten.
    bool Save(const std::filesystem::path &path, uint32_t format);
    // The first half of Save: encodes into a fresh file in path's folder (see PxPendingSave).
    // A pipe, socket or device at path is refused with "not a regular file".
    bool SaveToPending(const std::filesystem::path &path, uint32_t format,
                       PxPendingSave &pending);
    bool Decode(PxFile &file, uint32_t format);
    bool Decode(const uint8_t *data, size_t size, uint32_t format);
    // Reads only as much of the file as tells its format and size, with Load's choice of
    // codec (the named format, then content detection); the image itself is not changed
    // beyond its last-error text.
    bool LoadHeader(const std::filesystem::path &path, uint32_t format, PxHeaderInfo &info);
    bool DecodeHeader(PxFile &file, uint32_t format, PxHeaderInfo &info);
    bool Encode(PxFile &file, uint32_t format);

    // --- drawing crossings (implemented in the engine's one QtGui unit) ---------------------
    int Draw(QPainter &painter, int x, int y, int width = -1, int height = -1,
             const QRect *clip = nullptr);
    QImage MakeBitmap() const;
    bool CreateFromHBITMAP(const QImage &bitmap);
    // A copy of the whole block (header, palette, rows); empty for an empty image.
    std::string CopyToHandle() const;

    // Internal: lets codec results carry their fields into the target image.
    struct Info {
        uint32_t type = 0;
        char lastError[256] = {};
        uint32_t progress = 0;
        uint32_t escape = 0;
        int32_t transIndex = -1;
        PxRGBQuad bkColor{};
        uint8_t jpegQuality = 90;
        uint8_t jpegScale = 0;
        uint32_t fitBoxWidth = 0;
        uint32_t fitBoxHeight = 0;
        int32_t frame = 0;
        int32_t numFrames = 0;
        uint32_t frameDelay = 0;
        int32_t xDPI = 96;
        int32_t yDPI = 96;
        uint8_t alphaMax = 255;
        bool alphaPaletteEnabled = false;
        bool enabled = true;
        int32_t xOffset = 0;
        int32_t yOffset = 0;
        uint32_t codecOption = 0;
        bool keepMetadata = false;
        uint32_t exifOrientation = 0;
        std::shared_ptr<const PxMetadata> metadata;
        std::string colourProfile;
        uint32_t saveQuality = 0;
        bool lossless = false;
        PxRect selectionBox{};
        const PxImage *ghost = nullptr;
        // One-entry cache of the nearest-colour search.
        PxRGBQuad lastColour{};
        uint8_t lastIndex = 0;
        bool lastValid = false;
    };
    const Info &GetInfo() const { return m_info; }

private:
    void *CreateBlock(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type,
                      bool cleared);
    void Startup(uint32_t type);
    // Frees the owned block and planes (a ghost only forgets its alias) and empties the image.
    void Release();
    // Creates result as this image's size at bpp bits and hands it this image's information,
    // resolution and planes: the common start of an operation that builds a new image. On
    // failure the reason is copied into this image's last error.
    bool StartResult(PxImage &result, uint32_t bpp);
    void ResetHeaderForNewImage(uint32_t width, uint32_t height, uint32_t bpp);

    uint8_t *m_dib = nullptr;
    PxBitmapInfoHeader m_head{};
    uint32_t m_effWidth = 0;
    Info m_info{};
    uint8_t *m_alpha = nullptr;
    uint8_t *m_selection = nullptr;
};
