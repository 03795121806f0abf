#include "pixortatexttask.h"

#include "core/paths.h"
#include "engine/pximage.h"
#include "tasksettings.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

// Qt keeps font metrics in 26.6 fixed point, which overflows near 18000 pixels; these keep
// every size and layout well inside it.
constexpr int kMaxPixelSize = 14000;
constexpr qint64 kMaxCellHeight = 16384;
// Rectangles are handed to Qt in int; everything drawn lies near the image by then.
constexpr qint64 kCoordinateLimit = qint64(1) << 30;

constexpr int kBoxPadding = 3;
constexpr int kBandWidth = 2;

int ToInt(qint64 v)
{
    return int(std::clamp(v, -kCoordinateLimit, kCoordinateLimit));
}

// Each channel multiplied, truncated and clamped to 0..255.
QColor Scaled(const TaskColour &c, double factor)
{
    auto channel = [factor](int v) { return std::clamp(int(v * factor), 0, 255); };
    return QColor(channel(c.red), channel(c.green), channel(c.blue));
}

// Right and bottom exclusive, in image coordinates (rows from the top).
struct Span {
    qint64 left = 0, top = 0, right = 0, bottom = 0;
    bool IsEmpty() const { return right <= left || bottom <= top; }
    Span Intersected(const Span &o) const
    {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
    Span United(const Span &o) const
    {
        if (IsEmpty())
            return o;
        if (o.IsEmpty())
            return *this;
        return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right),
                std::max(bottom, o.bottom)};
    }
    Span Moved(qint64 dx, qint64 dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    QRect ToQRect() const
    {
        return QRect(QPoint(ToInt(left), ToInt(top)), QPoint(ToInt(right) - 1, ToInt(bottom) - 1));
    }
};

// Where everything goes on one image, worked out before anything is drawn.
struct Caption {
    QString text;
    QFont font;
    int flags = 0;
    Span rect;        // the drawing rectangle; the text is clipped to it
    Span textInk;     // where the text's pixels can land, within the image
    Span shadowInk;   // the same for the shadow; empty without one
    qint64 shadowOffset = 0;
    Span box;         // the background box
    Span boxInk;      // the part of it within the image; empty without a box
    QColor textColour, shadowColour;
    TaskColour boxColour;
};

// Fills the box in vertical bands two pixels wide, from the colour at its left edge to the
// colour scaled by 1.09 at its right edge, then outlines it in the colour scaled by 0.95.
void DrawBox(QPainter &painter, const Caption &c)
{
    const Span &box = c.box;
    const Span &visible = c.boxInk;
    const double width = double(box.right - box.left);
    const QColor end = Scaled(c.boxColour, 1.09);
    const int start[3] = {c.boxColour.red, c.boxColour.green, c.boxColour.blue};
    const int stop[3] = {end.red(), end.green(), end.blue()};
    for (qint64 k = (visible.left - box.left) / kBandWidth;; ++k) {
        const qint64 x0 = box.left + k * kBandWidth;
        if (x0 >= visible.right)
            break;
        const qint64 x1 = std::min(x0 + kBandWidth, box.right);
        const double at = double(k * kBandWidth) / width;
        int rgb[3];
        for (int i = 0; i < 3; ++i)
            rgb[i] = std::clamp(int(std::trunc(start[i] + at * (stop[i] - start[i]))), 0, 255);
        const Span band = Span{x0, box.top, x1, box.bottom}.Intersected(visible);
        if (!band.IsEmpty())
            painter.fillRect(band.ToQRect(), QColor(rgb[0], rgb[1], rgb[2]));
    }
    const QColor line = Scaled(c.boxColour, 0.95);
    const Span edges[] = {
        {box.left, box.top, box.right, box.top + 1},
        {box.left, box.bottom - 1, box.right, box.bottom},
        {box.left, box.top, box.left + 1, box.bottom},
        {box.right - 1, box.top, box.right, box.bottom},
    };
    for (const Span &edge : edges) {
        const Span part = edge.Intersected(visible);
        if (!part.IsEmpty())
            painter.fillRect(part.ToQRect(), line);
    }
}

// Draws the caption through a painter whose coordinates are the image's (translated when the
// surface holds only a part of the image).
void DrawCaption(QPainter &painter, const Caption &c)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(c.font);
    if (!c.boxInk.IsEmpty())
        DrawBox(painter, c);
    if (!c.shadowInk.IsEmpty()) {
        painter.setPen(c.shadowColour);
        painter.drawText(c.rect.Moved(-c.shadowOffset, c.shadowOffset).ToQRect(), c.flags, c.text);
    }
    if (!c.textInk.IsEmpty()) {
        painter.setPen(c.textColour);
        painter.drawText(c.rect.ToQRect(), c.flags, c.text);
    }
}

// The application font's size in pixels at the 96 dots per inch of a drawing surface.
int ApplicationFontPixels()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 12;
    const QFont font = QGuiApplication::font();
    if (font.pixelSize() > 0)
        return font.pixelSize();
    return std::max(1, int(std::lround(font.pointSizeF() * 96.0 / 72.0)));
}

int CellHeightAt(const TaskFont &font, int pixelSize)
{
    return QFontMetrics(font.ToQFont(pixelSize)).height();
}

// The image's pixels as a drawing surface; rows from the top.
void CopyOut(const PxImage &image, const Span &part, QImage &surface)
{
    const qint64 h = image.GetHeight();
    for (qint64 y = part.top; y < part.bottom; ++y) {
        const uint8_t *in = image.GetBits(uint32_t(h - 1 - y)) + part.left * 3;
        auto *out = reinterpret_cast<QRgb *>(surface.scanLine(int(y - part.top)));
        for (qint64 x = 0; x < part.right - part.left; ++x, in += 3)
            out[x] = qRgb(in[2], in[1], in[0]);
    }
}

void CopyIn(const QImage &surface, const Span &part, PxImage &image)
{
    const qint64 h = image.GetHeight();
    for (qint64 y = part.top; y < part.bottom; ++y) {
        uint8_t *out = image.GetBits(uint32_t(h - 1 - y)) + part.left * 3;
        const auto *in = reinterpret_cast<const QRgb *>(surface.constScanLine(int(y - part.top)));
        for (qint64 x = 0; x < part.right - part.left; ++x, out += 3) {
            out[0] = uint8_t(qBlue(in[x]));
            out[1] = uint8_t(qGreen(in[x]));
            out[2] = uint8_t(qRed(in[x]));
        }
    }
}

} // namespace

TaskFont TaskFont::Default()
{
    return CPixortaTextTask().m_font;
}

TaskFont TaskFont::FromQFont(const QFont &font)
{
    TaskFont out;
    out.face = font.family();
    out.weight = qint32(font.weight());
    out.italic = font.italic();
    out.underline = font.underline();
    out.strikeOut = font.strikeOut();
    return out;
}

QFont TaskFont::ToQFont(int pixelSize) const
{
    QFont font(face);
    font.setWeight(QFont::Weight(std::clamp<qint32>(weight, 1, 1000)));
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strikeOut);
    font.setPixelSize(std::clamp(pixelSize, 1, kMaxPixelSize));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    return font;
}

int PixelSizeForCellHeight(const TaskFont &font, qint64 cellHeight)
{
    const qint64 cell = std::clamp<qint64>(cellHeight, 1, kMaxCellHeight);
    // Cells grow almost in proportion to the pixel size; a guess from one size, then steps.
    const int reference = std::max(1, CellHeightAt(font, 100));
    int size = int(std::clamp<qint64>(cell * 100 / reference, 1, kMaxPixelSize));
    while (size > 1 && CellHeightAt(font, size) > cell)
        --size;
    while (size < kMaxPixelSize && CellHeightAt(font, size + 1) <= cell)
        ++size;
    return size;
}

const QList<TextVariable> &TextVariables()
{
    static const QList<TextVariable> variables = {
        {QLatin1String("%Note%"), "Your note (editable on the left list)",
         [](const QString &path, const NoteLookup *notes) {
             return notes ? notes->GetNoteByPath(path) : QString();
         }},
        {QLatin1String("%fTitle%"), "File title (title, without an extension)",
         [](const QString &path, const NoteLookup *) { return GetFileBaseName(path); }},
        {QLatin1String("%fName%"), "File name",
         [](const QString &path, const NoteLookup *) {
             const QString extension = GetFileExtension(path);
             return extension.isEmpty() ? GetFileBaseName(path)
                                        : GetFileBaseName(path) + u'.' + extension;
         }},
        {QLatin1String("%fPath%"), "File path",
         [](const QString &path, const NoteLookup *) { return path; }},
        {QLatin1String("%fAbsoluteLocalPath%"), nullptr,
         [](const QString &path, const NoteLookup *) { return path; }},
    };
    return variables;
}

const TextVariable *TextVariableAt(QStringView text)
{
    for (const TextVariable &v : TextVariables())
        if (text.startsWith(v.token))
            return &v;
    return nullptr;
}

QString ExpandTextVariables(const QString &text, const QString &sourcePath,
                            const NoteLookup *notes)
{
    // One scan of what was typed: a name or note that itself reads like a variable is printed
    // as it is, never expanded in turn.
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype percent = text.indexOf(u'%', i);
        if (percent < 0) {
            out += QStringView(text).mid(i);
            break;
        }
        out += QStringView(text).mid(i, percent - i);
        i = percent;
        if (const TextVariable *v = TextVariableAt(QStringView(text).mid(i))) {
            out += v->value(sourcePath, notes);
            i += v->token.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

CPixortaTextTask::CPixortaTextTask() : CPixortaTask(TaskAddText)
{
    ApplyDefaults(*this, Declared());
    m_defaultPixelSize = ApplicationFontPixels();
}

const TaskSettingList &CPixortaTextTask::Declared()
{
    using R = CPixortaTextTask;
    static const TaskSettingList settings = {
        TextSetting<R>({.key = "text",
                        .option = "--text",
                        .valueName = "TEXT",
                        .help = "the caption; spaces and line breaks at either end are dropped. It "
                                "may hold %fTitle% (file name without extension), %fName% (file "
                                "name), %fPath% and %fAbsoluteLocalPath% (absolute path of the "
                                "image) and %Note% (the image's note from --notes); an image "
                                "whose caption comes out empty is left as it is"},
                       &R::m_text, &R::TrimmedText),
        EnumSetting<R>({.key = "halign",
                        .option = "--text-halign",
                        .choices = {"left", "center", "right"},
                        .defaultValue = "center",
                        .valueName = "A",
                        .help = "left, center or right (default %default%)"},
                       &R::m_hAlign),
        EnumSetting<R>({.key = "valign",
                        .option = "--text-valign",
                        .choices = {"top", "center", "bottom"},
                        .defaultValue = "bottom",
                        .valueName = "A",
                        .help = "top, center or bottom (default %default%)"},
                       &R::m_vAlign),
        NumberSetting<R>({.key = "xmargin",
                          .option = "--text-xmargin",
                          .defaultValue = "20",
                          .valueName = "N",
                          .help = "pixels from the left or right edge (default %default%; "
                                  "ignored when centred)"},
                         &R::m_xMargin),
        NumberSetting<R>({.key = "ymargin",
                          .option = "--text-ymargin",
                          .defaultValue = "20",
                          .valueName = "N",
                          .help = "pixels from the top or bottom edge (default %default%; "
                                  "ignored when centred)"},
                         &R::m_yMargin),
        NumberSetting<R>({.key = "size",
                          .option = "--text-size",
                          .percent = true,
                          .defaultValue = "5",
                          .valueName = "P",
                          .help = "height of a line of text in percent of the image height "
                                  "(default %default%; 0 uses the application font's size)"},
                         &R::m_textSize),
        ColourSetting<R>({.key = "color",
                          .option = "--text-color",
                          .defaultValue = "#000000",
                          .valueName = "C",
                          .help = "text colour (default %default%)"},
                         &R::m_textColour),
        ColourSetting<R>({.key = "shadow-color",
                          .option = "--text-shadow-color",
                          .defaultValue = "#bebebe",
                          .valueName = "C",
                          .help = "shadow colour (default %default%); implies --text-shadow",
                          .implies = "shadow=yes"},
                         &R::m_shadowColour),
        ColourSwitchSetting<R>({.key = "shadow",
                                .option = "--text-shadow",
                                .defaultValue = "no",
                                .help = "draw a shadow, moved left and down by a thousandth of "
                                        "the image width (at least one pixel)"},
                               &R::m_shadowColour),
        ColourSetting<R>({.key = "box-color",
                          .option = "--text-background-color",
                          .defaultValue = "#f0f0f0",
                          .valueName = "C",
                          .help = "colour of the box behind the text (default %default%)"},
                         &R::m_backgroundColour),
        ColourSwitchSetting<R>({.key = "box",
                                .option = "--no-text-background",
                                .defaultValue = "yes",
                                .help = "no box behind the text",
                                .optionSets = false},
                               &R::m_backgroundColour),
        {{.key = "font",
          .option = "--text-font",
          .kind = SettingKind::Font,
          .defaultValue = "DejaVu Sans",
          .valueName = "FAMILY",
          .help = "font family (default %default%)"},
         [](const CPixortaTask &t) { return static_cast<const R &>(t).m_font.face; },
         [](CPixortaTask &t, const QString &v) { static_cast<R &>(t).m_font.face = v; }},
        {{.key = "weight",
          .kind = SettingKind::Number,
          .min = 1,
          .max = 1000,
          .noun = "a font weight",
          .hint = "(400 normal, 700 bold)",
          .defaultValue = "400"},
         [](const CPixortaTask &t) { return QString::number(static_cast<const R &>(t).m_font.weight); },
         [](CPixortaTask &t, const QString &v) { static_cast<R &>(t).m_font.weight = v.toInt(); }},
        SwitchSetting<R>({.key = "italic",
                          .option = "--text-italic",
                          .defaultValue = "no",
                          .help = "italic text"},
                         [](const R &r) { return r.m_font.italic; },
                         [](R &r, bool on) { r.m_font.italic = on; }),
        SwitchSetting<R>({.key = "underline", .defaultValue = "no"},
                         [](const R &r) { return r.m_font.underline; },
                         [](R &r, bool on) { r.m_font.underline = on; }),
        SwitchSetting<R>({.key = "strikeout", .defaultValue = "no"},
                         [](const R &r) { return r.m_font.strikeOut; },
                         [](R &r, bool on) { r.m_font.strikeOut = on; }),
    };
    return settings;
}

QString CPixortaTextTask::TrimmedText(const QString &typed)
{
    auto strip = [](QChar c) { return c == u'\r' || c == u'\n' || c == u' '; };
    qsizetype begin = 0, end = typed.size();
    while (begin < end && strip(typed[begin]))
        ++begin;
    while (end > begin && strip(typed[end - 1]))
        --end;
    return typed.mid(begin, end - begin);
}

bool CPixortaTextTask::Apply(PxImage &image, bool &modified, QString sourcePath)
{
    modified = true;
    Caption c;
    c.text = ExpandTextVariables(m_text, sourcePath, Notes());
    if (c.text.isEmpty()) {
        modified = false;
        return true;
    }
    if (!image.IsValid())
        return false;
    const qint64 w = image.GetWidth(), h = image.GetHeight();
    const Span whole{0, 0, w, h};

    // The cell height is the text size's share of the image height; 0 leaves the size to the
    // application font.
    qint64 cell = 0;
    if (m_textSize > 0)
        cell = qint64(std::min(std::trunc(double(h) / (100.0 / m_textSize)), 1e15));
    const int pixelSize = cell > 0 ? PixelSizeForCellHeight(m_font, cell) : m_defaultPixelSize;
    c.font = m_font.ToQFont(pixelSize);
    const QFontMetrics metrics(c.font);

    // The block as it wraps at the image width.
    const int layoutFlags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
    const QRect measured =
        metrics.boundingRect(QRect(0, 0, ToInt(w), ToInt(h)), layoutFlags, c.text);
    const qint64 tw = measured.width(), th = measured.height();

    Span r = whole;
    bool rightAligned = false;
    switch (m_hAlign) {
    case HAlign::Center:
        r.left = (w - tw) / 2;
        r.right = r.left + tw;
        break;
    case HAlign::Left:
        r.left = m_xMargin;
        break;
    case HAlign::Right:
        r.right = w - m_xMargin;
        r.left = r.right - tw;
        rightAligned = true;
        break;
    }
    switch (m_vAlign) {
    case VAlign::Center:
        r.top = (h - th) / 2;
        r.bottom = r.top + th;
        break;
    case VAlign::Bottom:
        r.top = h - m_yMargin - th;
        break;
    case VAlign::Top:
        r.top = m_yMargin;
        break;
    }
    c.rect = r;
    c.flags = Qt::TextWordWrap | Qt::AlignTop | (rightAligned ? Qt::AlignRight : Qt::AlignLeft);

    // The text's pixels stay within its rectangle and its laid-out lines, give or take the
    // overhang of a glyph, which is less than the font size.
    if (!r.IsEmpty()) {
        qint64 drawnHeight = th;
        if (r.right - r.left != tw)
            drawnHeight = metrics.boundingRect(QRect(0, 0, ToInt(r.right - r.left), ToInt(h)),
                                               layoutFlags, c.text).height();
        const qint64 overhang = pixelSize + 4;
        const Span ink{r.left - overhang, r.top - overhang, r.right + overhang,
                       std::min(r.bottom, r.top + drawnHeight) + overhang};
        c.textInk = ink.Intersected(whole);
        if (m_shadowColour.IsOn()) {
            c.shadowOffset = std::max<qint64>(1, qint64(std::trunc(double(w) * 0.001)));
            c.shadowInk = ink.Moved(-c.shadowOffset, c.shadowOffset).Intersected(whole);
        }
    }
    if (m_backgroundColour.IsOn()) {
        c.box = {r.left - kBoxPadding, r.top - kBoxPadding, r.left + tw + kBoxPadding,
                 r.top + th + kBoxPadding};
        c.boxInk = c.box.Intersected(whole);
    }
    c.textColour = m_textColour.ToQColor();
    c.shadowColour = m_shadowColour.ToQColor();
    c.boxColour = m_backgroundColour;

    // A true-colour image is drawn on where the caption lands and changed in place; any other
    // is drawn as a whole true-colour surface that then becomes the image. Either way the
    // result is what drawing on the whole surface and reading it back gives.
    if (image.GetBpp() != 24) {
        QImage surface = image.MakeBitmap();
        if (surface.isNull())
            return false;
        {
            QPainter painter(&surface);
            if (!painter.isActive())
                return false;
            DrawCaption(painter, c);
        }
        PxImage drawn;
        return drawn.CreateFromHBITMAP(surface) && image.AdoptPixels(drawn);
    }

    const Span part = c.textInk.United(c.shadowInk).United(c.boxInk);
    if (!part.IsEmpty()) {
        QImage surface(int(part.right - part.left), int(part.bottom - part.top),
                       QImage::Format_RGB32);
        if (surface.isNull())
            return false;
        CopyOut(image, part, surface);
        {
            QPainter painter(&surface);
            if (!painter.isActive())
                return false;
            painter.translate(-double(part.left), -double(part.top));
            DrawCaption(painter, c);
        }
        CopyIn(surface, part, image);
    }
    // What reading a drawing surface back leaves: format code 0, no planes, the resolution
    // written afresh from the information fields.
    image.SetType(0);
    image.AlphaDelete();
    image.SelectionDelete();
    image.SetXDPI(image.GetXDPI());
    image.SetYDPI(image.GetYDPI());
    return true;
}

CPixortaTask::Outcome CPixortaTextTask::PredictOutcome(const QString &sourcePath, quint32,
                                                       quint32) const
{
    return ExpandTextVariables(m_text, sourcePath, Notes()).isEmpty() ? Outcome::Unchanged
                                                                       : Outcome::Changes;
}

QString CPixortaTextTask::GetDescription() const
{
    return QStringLiteral("Add text: ") + m_text;
}
