// Colour profiles through LittleCMS.
//
// Nearly every photo that carries a profile carries sRGB's, and the verdict on a profile is
// asked on every decode: it is kept for the last few profiles seen (compared byte for byte), so
// the common case costs one comparison of a few kilobytes. Transforms are expensive to build
// (LittleCMS precomputes its 8-bit tables) and are kept the same way. They are made without
// LittleCMS's one-pixel cache, which is what makes one transform safe to share between the
// threads of a batch.

#include "pxcolour_p.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include <lcms2.h>

namespace pxcolour {
namespace {

// Remembered verdicts and transforms; more than a batch of mixed cameras shows at once.
constexpr size_t kCacheEntries = 8;
// How far a profile's colorants (D50 XYZ) may lie from sRGB's and still be taken for it:
// well inside the rounding of the many sRGB profiles in circulation, far from any other space.
constexpr double kColorantTolerance = 0.003;
// How far, in 8-bit levels, a grey value may move when its curve is replaced by sRGB's.
constexpr double kCurveToleranceLevels = 0.6;

struct ProfileCloser {
    void operator()(void *p) const
    {
        if (p)
            cmsCloseProfile(p);
    }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct CurveFreer {
    void operator()(cmsToneCurve *c) const
    {
        if (c)
            cmsFreeToneCurve(c);
    }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFreer>;

struct Transform {
    cmsHTRANSFORM handle = nullptr;
    cmsColorSpaceSignature space = cmsSigRgbData;
    ~Transform()
    {
        if (handle)
            cmsDeleteTransform(handle);
    }
};

Profile Open(const std::string &icc)
{
    if (icc.empty() || icc.size() > UINT32_MAX)
        return nullptr;
    return Profile(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
}

// sRGB's colorants and its curve reversed, from LittleCMS's own sRGB profile.
struct SrgbReference {
    cmsCIEXYZ colorants[3] = {};
    Curve reversed;
    bool valid = false;
};

const SrgbReference &Reference()
{
    static const SrgbReference reference = [] {
        SrgbReference r;
        Profile srgb(cmsCreate_sRGBProfile());
        if (!srgb)
            return r;
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                         cmsSigBlueColorantTag};
        for (int i = 0; i < 3; ++i) {
            const auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(srgb.get(), tags[i]));
            if (!xyz)
                return r;
            r.colorants[i] = *xyz;
        }
        const auto *trc = static_cast<const cmsToneCurve *>(cmsReadTag(srgb.get(), cmsSigRedTRCTag));
        if (!trc)
            return r;
        r.reversed.reset(cmsReverseToneCurve(trc));
        r.valid = r.reversed != nullptr;
        return r;
    }();
    return reference;
}

bool CloseTo(const cmsCIEXYZ &a, const cmsCIEXYZ &b)
{
    return std::fabs(a.X - b.X) <= kColorantTolerance && std::fabs(a.Y - b.Y) <= kColorantTolerance &&
           std::fabs(a.Z - b.Z) <= kColorantTolerance;
}

// A matrix-and-curves RGB profile with sRGB's colorants and a curve that, undone by sRGB's,
// moves no 8-bit level by more than the tolerance. A profile that also carries tables is judged
// by its matrix and curves: the sRGB profiles that carry both carry sRGB's tables.
bool DescribesSrgb(cmsHPROFILE profile)
{
    const SrgbReference &ref = Reference();
    if (!ref.valid || cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile))
        return false;
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                          cmsSigBlueColorantTag};
    const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int i = 0; i < 3; ++i) {
        const auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, colorants[i]));
        if (!xyz || !CloseTo(*xyz, ref.colorants[i]))
            return false;
        const auto *trc = static_cast<const cmsToneCurve *>(cmsReadTag(profile, curves[i]));
        if (!trc)
            return false;
        for (int level = 0; level < 256; ++level) {
            const float x = static_cast<float>(level) / 255.0f;
            const float back = cmsEvalToneCurveFloat(ref.reversed.get(), cmsEvalToneCurveFloat(trc, x));
            if (!std::isfinite(back) || std::fabs(back - x) * 255.0f > kCurveToleranceLevels)
                return false;
        }
    }
    return true;
}

// A small most-recently-used list keyed by the profile's bytes.
template <typename Value>
class ProfileCache {
public:
    // The value for icc, made by make() (under the lock) when it is not remembered.
    template <typename Make>
    Value Get(const std::string &icc, Make &&make)
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->first.size() == icc.size() &&
                std::memcmp(it->first.data(), icc.data(), icc.size()) == 0) {
                if (it != m_entries.begin()) {
                    auto entry = std::move(*it);
                    m_entries.erase(it);
                    m_entries.push_front(std::move(entry));
                }
                return m_entries.front().second;
            }
        }
        Value value = make();
        try {
            m_entries.emplace_front(icc, value);
            if (m_entries.size() > kCacheEntries)
                m_entries.pop_back();
        } catch (const std::bad_alloc &) {
            // Not remembered: asked again next time.
        }
        return value;
    }

private:
    std::mutex m_mutex;
    std::deque<std::pair<std::string, Value>> m_entries;
};

ProfileCache<bool> &Verdicts()
{
    static ProfileCache<bool> cache;
    return cache;
}

ProfileCache<std::shared_ptr<const Transform>> &Transforms()
{
    static ProfileCache<std::shared_ptr<const Transform>> cache;
    return cache;
}

// A transform from icc to sRGB for blue-green-red bytes, or for grey bytes when icc is a grey
// profile; nullptr when LittleCMS cannot use the profile.
std::shared_ptr<const Transform> MakeTransform(const std::string &icc)
{
    Profile source = Open(icc);
    if (!source)
        return nullptr;
    const cmsColorSpaceSignature space = cmsGetColorSpace(source.get());
    if (space != cmsSigRgbData && space != cmsSigGrayData)
        return nullptr;
    auto transform = std::make_shared<Transform>();
    transform->space = space;
    if (space == cmsSigGrayData)
        return transform; // see ConvertToSrgb: grey pictures keep their levels
    Profile srgb(cmsCreate_sRGBProfile());
    if (!srgb)
        return nullptr;
    // Perceptual where the profile has it, as colour-managed viewers and LittleCMS's own tools
    // use by default; LittleCMS falls back to colorimetric for matrix profiles.
    transform->handle = cmsCreateTransform(source.get(), TYPE_BGR_8, srgb.get(), TYPE_BGR_8,
                                           INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
    if (!transform->handle)
        return nullptr;
    return transform;
}

struct NclxPrimaries {
    uint16_t code;
    cmsCIExyY white, red, green, blue;
};

constexpr cmsCIExyY kD65{0.3127, 0.3290, 1.0};
constexpr cmsCIExyY kIlluminantC{0.310, 0.316, 1.0};

// ITU-T H.273 table 2. 10 (CIE XYZ as RGB) is left out: no display space, nothing to convert.
constexpr NclxPrimaries kPrimaries[] = {
    {1, kD65, {0.640, 0.330, 1}, {0.300, 0.600, 1}, {0.150, 0.060, 1}},
    {4, kIlluminantC, {0.670, 0.330, 1}, {0.210, 0.710, 1}, {0.140, 0.080, 1}},
    {5, kD65, {0.640, 0.330, 1}, {0.290, 0.600, 1}, {0.150, 0.060, 1}},
    {6, kD65, {0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}},
    {7, kD65, {0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}},
    {8, kIlluminantC, {0.681, 0.319, 1}, {0.243, 0.692, 1}, {0.145, 0.049, 1}},
    {9, kD65, {0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}},
    {11, {0.314, 0.351, 1}, {0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}},
    {12, kD65, {0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}},
    {22, kD65, {0.630, 0.340, 1}, {0.295, 0.605, 1}, {0.155, 0.077, 1}},
};

// The curve from coded value to linear light for an H.273 transfer characteristic, as a
// LittleCMS parametric curve; nullptr for what an ICC curve cannot carry: PQ (16) and HLG (18)
// are defined against an absolute or scene luminance that a display-referred profile lacks, and
// the logarithmic curves (9, 10) and the extended-range ones (11, 12) map no plain range.
Curve TransferCurve(uint16_t transfer)
{
    // Type 4: Y = (aX + b)^g for X >= d, Y = cX below.
    auto segmented = [](double g, double alpha, double beta, double slope) {
        const double p[5] = {g, 1.0 / alpha, (alpha - 1.0) / alpha, 1.0 / slope, beta * slope};
        return Curve(cmsBuildParametricToneCurve(nullptr, 4, p));
    };
    auto gamma = [](double g) { return Curve(cmsBuildGamma(nullptr, g)); };
    switch (transfer) {
    case 2: // unspecified: taken as sRGB's, which such pictures are nearly always made for
    case 13:
        return segmented(2.4, 1.055, 0.0031308, 12.92);
    case 1:
    case 6:
    case 14:
    case 15:
        return segmented(1.0 / 0.45, 1.099, 0.018, 4.5);
    case 7:
        return segmented(1.0 / 0.45, 1.1115, 0.0228, 4.0);
    case 4:
        return gamma(2.2);
    case 5:
        return gamma(2.8);
    case 8:
        return gamma(1.0);
    default:
        return nullptr;
    }
}

std::string BuildNclxProfile(uint16_t primaries, uint16_t transfer)
{
    // Unspecified primaries with a stated curve: the primaries of the usual video space.
    const uint16_t code = primaries == 2 ? 1 : primaries;
    if (code == 1 && (transfer == 13 || transfer == 2))
        return {};
    const NclxPrimaries *found = nullptr;
    for (const NclxPrimaries &p : kPrimaries)
        if (p.code == code)
            found = &p;
    Curve curve = TransferCurve(transfer);
    if (!found || !curve)
        return {};
    cmsCIExyYTRIPLE triple{found->red, found->green, found->blue};
    cmsToneCurve *curves[3] = {curve.get(), curve.get(), curve.get()};
    Profile profile(cmsCreateRGBProfile(&found->white, &triple, curves));
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0)
        return {};
    std::string bytes(size, '\0');
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}

// Restores the image's last-error text when it goes out of scope.
class KeepLastError {
public:
    explicit KeepLastError(PxImage &image) : m_image(image), m_text(image.GetLastError()) {}
    ~KeepLastError() { m_image.SetLastError(m_text.c_str()); }

private:
    PxImage &m_image;
    std::string m_text;
};

} // namespace

bool IsSrgb(const std::string &icc)
{
    if (icc.empty())
        return true;
    return Verdicts().Get(icc, [&] {
        Profile profile = Open(icc);
        return !profile || DescribesSrgb(profile.get());
    });
}

bool IsRgbProfile(const std::string &icc)
{
    if (icc.size() < 132)
        return false;
    const auto *head = reinterpret_cast<const uint8_t *>(icc.data());
    const uint32_t declared = uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 |
                              uint32_t(head[2]) << 8 | head[3];
    if (declared != icc.size())
        return false;
    Profile profile = Open(icc);
    return profile && cmsGetColorSpace(profile.get()) == cmsSigRgbData;
}

namespace {

// Whether the profile's colour space is the pixels': RGB for colour pictures, grey for grey
// ones. An unreadable profile fits nothing.
bool FitsPicture(const PxImage &image, const std::string &icc)
{
    Profile profile = Open(icc);
    if (!profile)
        return false;
    const bool grey = image.IsIndexed() && image.IsGrayScale();
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
    return space == (grey ? cmsSigGrayData : cmsSigRgbData);
}

} // namespace

std::string ProfileFromNclx(uint16_t primaries, uint16_t transfer)
{
    // A saved profile carries the time it was made: remembering it keeps the bytes, and with
    // them the remembered transform, the same for every picture of one kind.
    static std::mutex mutex;
    static std::deque<std::pair<uint32_t, std::string>> made;
    const uint32_t key = static_cast<uint32_t>(primaries) << 16 | transfer;
    std::lock_guard lock(mutex);
    for (const auto &[k, bytes] : made)
        if (k == key)
            return bytes;
    std::string bytes = BuildNclxProfile(primaries, transfer);
    made.emplace_back(key, bytes);
    if (made.size() > kCacheEntries)
        made.pop_front();
    return bytes;
}

bool ConvertToSrgb(PxImage &image, const std::string &icc)
{
    if (!image.IsValid() || IsSrgb(icc))
        return true;
    const std::shared_ptr<const Transform> transform =
        Transforms().Get(icc, [&] { return MakeTransform(icc); });
    if (!transform) {
        image.SetLastError("The colour profile cannot be used");
        return false;
    }
    const bool grey = image.IsIndexed() && image.IsGrayScale();
    if (transform->space == cmsSigGrayData) {
        // A grey profile's curve is a near neighbour of sRGB's, and converting would turn the
        // grey ramp into a palette that is no longer one (which JPEG, for one, cannot write):
        // grey pictures keep their levels.
        if (grey)
            return true;
        image.SetLastError("The grey colour profile does not fit a colour picture");
        return false;
    }
    if (grey || (image.GetBpp() != 24 && !image.IsIndexed())) {
        image.SetLastError("The colour profile does not fit the picture");
        return false;
    }
    if (image.IsIndexed()) {
        PxRGBQuad *palette = image.GetPalette();
        const uint32_t count = image.GetNumColors();
        uint8_t bgr[256 * 3];
        for (uint32_t i = 0; i < count && i < 256; ++i) {
            bgr[3 * i] = palette[i].blue;
            bgr[3 * i + 1] = palette[i].green;
            bgr[3 * i + 2] = palette[i].red;
        }
        cmsDoTransform(transform->handle, bgr, bgr, std::min<uint32_t>(count, 256));
        for (uint32_t i = 0; i < count && i < 256; ++i) {
            palette[i].blue = bgr[3 * i];
            palette[i].green = bgr[3 * i + 1];
            palette[i].red = bgr[3 * i + 2];
        }
        return true;
    }
    // The rows in place, all at once: the block is contiguous with a fixed stride.
    cmsDoTransformLineStride(transform->handle, image.GetBits(0), image.GetBits(0),
                             image.GetWidth(), image.GetHeight(), image.GetEffWidth(),
                             image.GetEffWidth(), 0, 0);
    return true;
}

void SettleDecodedColours(PxImage &image)
{
    if (image.GetColourProfile().empty())
        return;
    std::string icc = image.GetColourProfile();
    image.SetColourProfile({});
    if (IsSrgb(icc))
        return;
    if (!image.GetKeepMetadata()) {
        // A profile LittleCMS cannot use leaves the picture as the file stores it, as before
        // profiles were read at all; the load itself succeeded.
        KeepLastError keep(image);
        ConvertToSrgb(image, icc);
        return;
    }
    const std::shared_ptr<const PxMetadata> &kept = image.GetMetadata();
    // A profile of another colour space than the decoded pixels (a CMYK JPEG's, once its pixels
    // became RGB) would misdescribe every file it went into: it is not kept.
    const bool fits = FitsPicture(image, icc);
    if (fits && kept && kept->icc == icc)
        return;
    if (!fits && (!kept || kept->icc.empty()))
        return;
    try {
        auto metadata = kept ? std::make_shared<PxMetadata>(*kept) : std::make_shared<PxMetadata>();
        if (fits)
            metadata->icc = std::move(icc);
        else
            metadata->icc.clear();
        image.SetMetadata(std::move(metadata));
    } catch (const std::bad_alloc &) {
        // Without memory for it the picture loads as it would without asking for metadata.
        KeepLastError keep(image);
        ConvertToSrgb(image, icc);
    }
}

} // namespace pxcolour

bool PxImage::BringToSrgb()
{
    const std::shared_ptr<const PxMetadata> kept = GetMetadata();
    if (!kept || kept->icc.empty() || pxcolour::IsSrgb(kept->icc))
        return true;
    const bool converted = pxcolour::ConvertToSrgb(*this, kept->icc);
    auto metadata = std::make_shared<PxMetadata>(*kept);
    metadata->icc.clear();
    SetMetadata(std::move(metadata));
    return converted;
}
