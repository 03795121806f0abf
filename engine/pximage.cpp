#include "pximage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <sys/mman.h>

namespace {

constexpr uint32_t kHeaderSize = sizeof(PxBitmapInfoHeader);

uint32_t NormaliseBpp(uint32_t bpp)
{
    if (bpp <= 1)
        return 1;
    if (bpp <= 4)
        return 4;
    if (bpp <= 8)
        return 8;
    return 24;
}

uint32_t PaletteEntriesFor(uint32_t bpp)
{
    switch (bpp) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

// 39.37007874 inches per metre. Rounded to the nearest integer so that 96 dpi gives the 3780
// pixels per metre that every bitmap writer uses (truncating would give 3779).
int32_t DpiToPelsPerMeter(int32_t dpi)
{
    return static_cast<int32_t>(std::floor(dpi * 39.37007874 + 0.5));
}

// Pixel blocks are zeroed, palette and rows alike: the bitmap writers store the block as it
// is, row padding included, and must not put stale bytes into a file.
//
// A photo's block is tens of megabytes, and fresh memory costs a page fault per 4 KiB the
// first time it is touched: for a 12-megapixel picture that was more time than resizing it.
// Blocks of several megabytes therefore get memory of their own that the kernel may back with
// 2 MiB pages (where it offers them; elsewhere this is an ordinary mapping). Every block
// carries a small record in front of it that says how to give it back.
struct BlockRecord {
    void *mapping; // nullptr for a heap block
    size_t mappingBytes;
};
constexpr size_t kRecordBytes = 64; // keeps the block 64-byte aligned
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kMappedFrom = size_t{4} << 20;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer guards heap blocks only: under it every block stays on the heap.
constexpr bool kMapLargeBlocks = false;
#else
constexpr bool kMapLargeBlocks = true;
#endif

// The first usable byte of a mapping: just past a record that sits below a 2 MiB boundary, so
// that the rows start on one.
uint8_t *BlockStart(void *mapping)
{
    auto start = reinterpret_cast<uintptr_t>(mapping) + kRecordBytes;
    start = (start + kHugePage - 1) & ~(kHugePage - 1);
    return reinterpret_cast<uint8_t *>(start);
}

size_t UsableBytes(void *mapping, size_t mappingBytes)
{
    return mappingBytes - static_cast<size_t>(BlockStart(mapping) -
                                              static_cast<uint8_t *>(mapping));
}

// Large blocks a thread freed while it keeps its blocks (PxKeepBlocksOnThisThread): the next
// image of similar size takes one over, already faulted in, instead of fresh memory.
struct KeptBlocks {
    static constexpr int kMax = 2;
    int keepers = 0;
    BlockRecord kept[kMax] = {};
    int count = 0;

    void ReleaseAll()
    {
        for (int i = 0; i < count; ++i)
            ::munmap(kept[i].mapping, kept[i].mappingBytes);
        count = 0;
    }
    ~KeptBlocks() { ReleaseAll(); }
};
thread_local KeptBlocks t_kept;

// A kept mapping that holds bytes without wasting more than about half of it, or nothing.
BlockRecord TakeKeptBlock(size_t bytes)
{
    int best = -1;
    for (int i = 0; i < t_kept.count; ++i) {
        const size_t usable = UsableBytes(t_kept.kept[i].mapping, t_kept.kept[i].mappingBytes);
        if (usable >= bytes && usable <= 2 * bytes &&
            (best < 0 || t_kept.kept[i].mappingBytes < t_kept.kept[best].mappingBytes))
            best = i;
    }
    if (best < 0)
        return {};
    const BlockRecord found = t_kept.kept[best];
    t_kept.kept[best] = t_kept.kept[--t_kept.count];
    return found;
}

// cleared: the block must read as zeros (fresh mappings and calloc'ed memory do; a kept block
// is cleared here).
uint8_t *AllocBlock(size_t bytes, bool cleared)
{
    if (kMapLargeBlocks && bytes >= kMappedFrom) {
        if (t_kept.keepers > 0) {
            if (const BlockRecord kept = TakeKeptBlock(bytes); kept.mapping) {
                uint8_t *block = BlockStart(kept.mapping);
                new (block - kRecordBytes) BlockRecord{kept.mapping, kept.mappingBytes};
                if (cleared)
                    std::memset(block, 0, bytes);
                return block;
            }
            // None fits this image: they go back before a new one is mapped, so keeping
            // blocks never raises the memory a worker holds at its peak.
            t_kept.ReleaseAll();
        }
        const size_t length = bytes + kRecordBytes + kHugePage;
        void *mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping != MAP_FAILED) {
            uint8_t *block = BlockStart(mapping);
            const auto start = reinterpret_cast<uintptr_t>(block);
            ::madvise(reinterpret_cast<void *>(start & ~(kHugePage - 1)),
                      bytes + (start & (kHugePage - 1)), MADV_HUGEPAGE);
            new (block - kRecordBytes) BlockRecord{mapping, length};
            return block;
        }
    }
    auto *raw = static_cast<uint8_t *>(std::calloc(1, bytes + kRecordBytes));
    if (!raw)
        return nullptr;
    new (raw) BlockRecord{nullptr, 0};
    return raw + kRecordBytes;
}

void FreeBlock(uint8_t *block)
{
    if (!block)
        return;
    const BlockRecord record = *reinterpret_cast<const BlockRecord *>(block - kRecordBytes);
    if (!record.mapping) {
        std::free(block - kRecordBytes);
        return;
    }
    if (t_kept.keepers > 0) {
        // The newest blocks are the likeliest to fit the next image: the oldest makes room.
        if (t_kept.count == KeptBlocks::kMax) {
            ::munmap(t_kept.kept[0].mapping, t_kept.kept[0].mappingBytes);
            t_kept.kept[0] = t_kept.kept[1];
            t_kept.count = 1;
        }
        t_kept.kept[t_kept.count++] = record;
        return;
    }
    ::munmap(record.mapping, record.mappingBytes);
}

uint8_t *AllocPlane(uint32_t width, uint32_t height)
{
    const size_t bytes = static_cast<size_t>(width) * height;
    return static_cast<uint8_t *>(std::malloc(bytes ? bytes : 1));
}

// A new plane with every byte set to fill; nullptr when memory runs out.
uint8_t *FilledPlane(uint32_t width, uint32_t height, uint8_t fill)
{
    uint8_t *plane = AllocPlane(width, height);
    if (plane)
        std::memset(plane, fill, static_cast<size_t>(width) * height);
    return plane;
}

uint8_t *DuplicatePlane(const uint8_t *plane, uint32_t width, uint32_t height)
{
    uint8_t *copy = AllocPlane(width, height);
    if (copy)
        std::memcpy(copy, plane, static_cast<size_t>(width) * height);
    return copy;
}

} // namespace

PxImage::PxImage(uint32_t type)
{
    Startup(type);
}

PxImage::PxImage(const PxImage &src, bool copyPixels, bool copySelection, bool copyAlpha)
{
    Startup(0);
    Copy(src, copyPixels, copySelection, copyAlpha);
}

PxImage &PxImage::operator=(const PxImage &src)
{
    if (this != &src)
        Copy(src);
    return *this;
}

PxImage::~PxImage()
{
    Release();
}

void PxImage::Startup(uint32_t type)
{
    m_dib = nullptr;
    m_alpha = nullptr;
    m_selection = nullptr;
    m_effWidth = 0;
    m_head = PxBitmapInfoHeader{};
    m_info = Info{};
    m_info.type = type;
    m_head.xPelsPerMeter = DpiToPelsPerMeter(m_info.xDPI);
    m_head.yPelsPerMeter = DpiToPelsPerMeter(m_info.yDPI);
}

void PxImage::Release()
{
    if (!m_info.ghost) {
        FreeBlock(m_dib);
        std::free(m_alpha);
        std::free(m_selection);
    }
    m_dib = nullptr;
    m_alpha = nullptr;
    m_selection = nullptr;
    m_info.ghost = nullptr;
    m_info.selectionBox = PxRect{};
}

void PxImage::ResetHeaderForNewImage(uint32_t width, uint32_t height, uint32_t bpp)
{
    m_head = PxBitmapInfoHeader{};
    m_head.width = static_cast<int32_t>(width);
    m_head.height = static_cast<int32_t>(height);
    m_head.bitCount = static_cast<uint16_t>(bpp);
    m_head.sizeImage = m_effWidth * height;
    m_head.xPelsPerMeter = DpiToPelsPerMeter(m_info.xDPI);
    m_head.yPelsPerMeter = DpiToPelsPerMeter(m_info.yDPI);
    m_head.clrUsed = PaletteEntriesFor(bpp);
    m_head.clrImportant = 0;
}

PxKeepBlocksOnThisThread::PxKeepBlocksOnThisThread()
{
    ++t_kept.keepers;
}

PxKeepBlocksOnThisThread::~PxKeepBlocksOnThisThread()
{
    if (--t_kept.keepers == 0)
        t_kept.ReleaseAll();
}

void *PxImage::Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type)
{
    return CreateBlock(width, height, bpp, type, true);
}

void *PxImage::CreateForOverwrite(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type)
{
    if (!CreateBlock(width, height, bpp, type, false))
        return nullptr;
    // What the producer does not write: the palette and the padding at each row's end.
    std::memset(m_dib + kHeaderSize, 0, GetPaletteSize());
    const size_t used = (static_cast<size_t>(GetWidth()) * GetBpp() + 7) / 8;
    if (used < m_effWidth)
        for (uint32_t y = 0; y < GetHeight(); ++y)
            std::memset(GetBits(y) + used, 0, m_effWidth - used);
    return m_dib;
}

void *PxImage::CreateBlock(uint32_t width, uint32_t height, uint32_t bpp, uint32_t type,
                           bool cleared)
{
    if (!Destroy())
        Release(); // a ghost drops its alias and becomes an image of its own
    m_head = PxBitmapInfoHeader{};
    m_head.xPelsPerMeter = DpiToPelsPerMeter(m_info.xDPI);
    m_head.yPelsPerMeter = DpiToPelsPerMeter(m_info.yDPI);
    m_effWidth = 0;
    m_info.lastValid = false;

    bpp = NormaliseBpp(bpp);

    // width and height are below 2^32 each, so their product fits 64 bits; the bit count may not.
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    uint64_t bits = 0;
    if (__builtin_mul_overflow(pixels, static_cast<uint64_t>(bpp), &bits) ||
        bits / 256 > PXIMAGE_MAX_MEMORY) {
        SetLastError("PXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }
    // The header stores the sides as signed and the image size as unsigned 32-bit values, and
    // the bitmap writers put the whole block size in a 32-bit field: anything larger cannot be
    // described and is refused like an oversized image.
    const uint64_t effWidth = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
    const uint64_t imageBytes = effWidth * height;
    const uint64_t blockBytes = kHeaderSize + 4ull * PaletteEntriesFor(bpp) + imageBytes;
    constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
    if (width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        blockBytes + 14 > kMax32) {
        SetLastError("PXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }

    m_dib = AllocBlock(static_cast<size_t>(blockBytes), cleared);
    if (!m_dib) {
        SetLastError("PxImage::Create can't allocate memory");
        return nullptr;
    }
    m_info.type = type;
    m_effWidth = static_cast<uint32_t>(effWidth);
    ResetHeaderForNewImage(width, height, bpp);
    std::memcpy(m_dib, &m_head, kHeaderSize);
    return m_dib;
}

bool PxImage::Destroy()
{
    if (m_info.ghost)
        return false;
    Release();
    return true;
}

void PxImage::Ghost(const PxImage &src)
{
    if (&src == this)
        return;
    Release();
    m_dib = src.m_dib;
    m_head = src.m_head;
    m_effWidth = src.m_effWidth;
    m_info = src.m_info;
    m_alpha = src.m_alpha;
    m_selection = src.m_selection;
    m_info.ghost = &src;
}

void PxImage::Copy(const PxImage &src, bool copyPixels, bool copySelection, bool copyAlpha)
{
    if (&src == this)
        return;
    if (!src.m_dib) {
        if (!Destroy())
            Release();
        m_info = src.m_info;
        m_info.ghost = nullptr;
        m_head = src.m_head;
        m_effWidth = 0;
        return;
    }
    if (!Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType()))
        return;
    m_info = src.m_info;
    m_info.ghost = nullptr;
    m_info.selectionBox = PxRect{};
    m_head = src.m_head;
    if (copyPixels)
        std::memcpy(m_dib, src.m_dib, src.GetSize());
    else {
        std::memcpy(m_dib, &m_head, kHeaderSize);
        std::memcpy(m_dib + kHeaderSize, src.m_dib + kHeaderSize, src.GetPaletteSize());
    }
    if (copySelection && src.m_selection) {
        m_selection = DuplicatePlane(src.m_selection, GetWidth(), GetHeight());
        if (m_selection)
            m_info.selectionBox = src.m_info.selectionBox;
    }
    if (copyAlpha && src.m_alpha)
        m_alpha = DuplicatePlane(src.m_alpha, GetWidth(), GetHeight());
}

bool PxImage::Transfer(PxImage &src)
{
    if (&src == this)
        return false;
    if (!Destroy())
        Release();
    m_dib = src.m_dib;
    m_head = src.m_head;
    m_effWidth = src.m_effWidth;
    m_info = src.m_info;
    m_alpha = src.m_alpha;
    m_selection = src.m_selection;
    // The source must not free what it handed over. It goes back to a fresh image rather than
    // all-zero fields: a zero transparent index or JPEG quality would silently change how a
    // reused source is written.
    src.m_dib = nullptr;
    src.m_alpha = nullptr;
    src.m_selection = nullptr;
    src.m_info.ghost = nullptr;
    src.Startup(0);
    return true;
}

bool PxImage::AdoptPixels(PxImage &src)
{
    if (&src == this || !src.m_dib || src.IsGhost() || IsGhost() || src.GetBpp() != 24)
        return false;
    Info keep = m_info;
    keep.type = 0;
    keep.lastValid = false;
    keep.selectionBox = PxRect{};
    Transfer(src);
    AlphaDelete();
    SelectionDelete();
    m_info = keep;
    // Create writes the resolution of the information fields into a new block.
    m_head.xPelsPerMeter = DpiToPelsPerMeter(m_info.xDPI);
    m_head.yPelsPerMeter = DpiToPelsPerMeter(m_info.yDPI);
    std::memcpy(m_dib, &m_head, kHeaderSize);
    return true;
}

bool PxImage::IsGrayScale() const
{
    const PxRGBQuad *pal = GetPalette();
    const uint32_t n = GetNumColors();
    if (!pal || n < 2)
        return false;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t grey = i * 255 / (n - 1);
        if (pal[i].red != grey || pal[i].green != grey || pal[i].blue != grey)
            return false;
    }
    return true;
}

uint8_t *PxImage::GetBits(uint32_t row) const
{
    if (!m_dib)
        return nullptr;
    uint8_t *bits = m_dib + kHeaderSize + GetPaletteSize();
    if (row == 0)
        return bits;
    if (row >= GetHeight())
        return nullptr;
    return bits + static_cast<size_t>(row) * m_effWidth;
}

PxRGBQuad *PxImage::GetPalette() const
{
    if (!m_dib || m_head.clrUsed == 0)
        return nullptr;
    return reinterpret_cast<PxRGBQuad *>(m_dib + kHeaderSize);
}

PxRGBQuad PxImage::GetPaletteColor(uint8_t index) const
{
    const PxRGBQuad *pal = GetPalette();
    if (!pal)
        return PxRGBQuad{};
    return pal[std::min<uint32_t>(index, m_head.clrUsed - 1)];
}

bool PxImage::GetPaletteColor(uint8_t index, uint8_t *red, uint8_t *green, uint8_t *blue) const
{
    const PxRGBQuad *pal = GetPalette();
    if (!pal || index >= m_head.clrUsed)
        return false;
    if (red)
        *red = pal[index].red;
    if (green)
        *green = pal[index].green;
    if (blue)
        *blue = pal[index].blue;
    return true;
}

void PxImage::SetPalette(const PxRGBQuad *palette, uint32_t count)
{
    PxRGBQuad *pal = GetPalette();
    if (!pal || !palette)
        return;
    std::memcpy(pal, palette, std::min(count, m_head.clrUsed) * sizeof(PxRGBQuad));
    m_info.lastValid = false;
}

void PxImage::SetPaletteColor(uint8_t index, PxRGBQuad colour)
{
    PxRGBQuad *pal = GetPalette();
    if (!pal || index >= m_head.clrUsed)
        return;
    pal[index] = colour;
    m_info.lastValid = false;
}

void PxImage::SetPaletteColor(uint8_t index, uint8_t red, uint8_t green, uint8_t blue,
                              uint8_t alpha)
{
    SetPaletteColor(index, PxRGBQuad{blue, green, red, alpha});
}

uint32_t PxImage::GetSize() const
{
    if (!m_dib)
        return 0;
    return kHeaderSize + GetPaletteSize() + m_head.sizeImage;
}

void PxImage::SetLastError(const char *text)
{
    if (!text)
        text = "";
    const size_t n = std::min(std::strlen(text), sizeof(m_info.lastError) - 1);
    std::memcpy(m_info.lastError, text, n);
    m_info.lastError[n] = '\0';
}

PxRGBQuad PxImage::GetTransColor() const
{
    if (IsIndexed() && m_info.transIndex >= 0)
        return GetPaletteColor(static_cast<uint8_t>(
            std::min<int32_t>(m_info.transIndex, static_cast<int32_t>(m_head.clrUsed) - 1)));
    return m_info.bkColor;
}

void PxImage::SetXDPI(int32_t dpi)
{
    m_info.xDPI = dpi;
    m_head.xPelsPerMeter = DpiToPelsPerMeter(dpi);
    if (m_dib)
        reinterpret_cast<PxBitmapInfoHeader *>(m_dib)->xPelsPerMeter = m_head.xPelsPerMeter;
}

void PxImage::SetYDPI(int32_t dpi)
{
    m_info.yDPI = dpi;
    m_head.yPelsPerMeter = DpiToPelsPerMeter(dpi);
    if (m_dib)
        reinterpret_cast<PxBitmapInfoHeader *>(m_dib)->yPelsPerMeter = m_head.yPelsPerMeter;
}

// --- alpha plane ---------------------------------------------------------------------------

bool PxImage::AlphaCreate()
{
    if (!m_dib)
        return false;
    if (m_alpha)
        return true;
    m_alpha = FilledPlane(GetWidth(), GetHeight(), 255);
    return m_alpha != nullptr;
}

void PxImage::AlphaDelete()
{
    if (!m_info.ghost)
        std::free(m_alpha);
    m_alpha = nullptr;
}

uint8_t PxImage::AlphaGet(int32_t x, int32_t y) const
{
    const uint8_t *p = AlphaGetPointer(x, y);
    return p ? *p : 0;
}

void PxImage::AlphaSet(int32_t x, int32_t y, uint8_t a)
{
    if (uint8_t *p = AlphaGetPointer(x, y))
        *p = a;
}

uint8_t *PxImage::AlphaGetPointer(int32_t x, int32_t y) const
{
    if (!m_alpha || !IsInside(x, y))
        return nullptr;
    return m_alpha + static_cast<size_t>(y) * GetWidth() + x;
}

// --- selection plane -----------------------------------------------------------------------

bool PxImage::SelectionCreate()
{
    if (!m_dib)
        return false;
    if (m_selection)
        return true;
    m_selection = FilledPlane(GetWidth(), GetHeight(), 0);
    if (!m_selection)
        return false;
    m_info.selectionBox = PxRect{};
    return true;
}

bool PxImage::SelectionDelete()
{
    if (!m_info.ghost)
        std::free(m_selection);
    m_selection = nullptr;
    m_info.selectionBox = PxRect{};
    return true;
}

uint8_t *PxImage::SelectionGetPointer(int32_t x, int32_t y) const
{
    if (!m_selection || !IsInside(x, y))
        return nullptr;
    return m_selection + static_cast<size_t>(y) * GetWidth() + x;
}

bool PxImage::SelectionIsInside(int32_t x, int32_t y) const
{
    if (!IsInside(x, y))
        return false;
    // Without a selection plane the whole image counts as selected.
    const uint8_t *p = SelectionGetPointer(x, y);
    return !m_selection || *p != 0;
}

bool PxImage::IsInside(int32_t x, int32_t y) const
{
    return m_dib && x >= 0 && y >= 0 && x < m_head.width && y < m_head.height;
}
