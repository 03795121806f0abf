#include "estaticcolor.h"

#include "ui/uiseams.h"

#include <QCursor>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace {

constexpr int kHoverPollMs = 100;
constexpr int kInset = 2;
constexpr int kCaptionLeft = 3;
constexpr int kCaptionGap = 8;
const QColor kFace(252, 252, 252);
const QColor kIdleText(90, 90, 90);

// Each channel multiplied, truncated and clamped to 255.
QColor Scaled(const QColor &c, double factor)
{
    auto channel = [factor](int v) { return std::min(255, int(v * factor)); };
    return QColor(channel(c.red()), channel(c.green()), channel(c.blue()));
}

// A one-pixel outline lying on the rectangle's own border pixels.
void Outline(QPainter &painter, const QRect &r, const QColor &colour)
{
    if (r.isEmpty())
        return;
    painter.setPen(colour);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
}

} // namespace

CEStaticColor::CEStaticColor(QWidget *parent) : QWidget(parent)
{
    m_hoverTimer.setInterval(kHoverPollMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CEStaticColor::OnHoverTick);
}

CEStaticColor::CEStaticColor(const QString &text, QWidget *parent) : CEStaticColor(parent)
{
    m_text = text;
}

void CEStaticColor::SetColor(const QColor &colour, quint8 reserved)
{
    m_red = quint8(colour.red());
    m_green = quint8(colour.green());
    m_blue = quint8(colour.blue());
    m_reserved = reserved;
    update();
}

void CEStaticColor::setText(const QString &text)
{
    m_text = text;
    updateGeometry();
    update();
}

void CEStaticColor::SetShowCaption(bool show)
{
    m_showCaption = show;
    update();
}

QSize CEStaticColor::sizeHint() const
{
    const int h = std::max(20, fontMetrics().height() + 2 * kInset + 2);
    if (!m_showCaption)
        return QSize(h, h);
    return QSize(kCaptionLeft + fontMetrics().horizontalAdvance(m_text) + kCaptionGap + h, h);
}

bool CEStaticColor::IsHovered() const
{
    // A swatch that is not on screen (rendered with grab(), say) is never under the cursor.
    if (!isVisible())
        return false;
    return rect().contains(mapFromGlobal(QCursor::pos()));
}

void CEStaticColor::OnHoverTick()
{
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    if (cursor == m_lastCursor)
        return;
    m_lastCursor = cursor;
    // Only crossing the border changes the picture.
    if (IsHovered() != m_paintedHovered)
        update();
}

void CEStaticColor::paintEvent(QPaintEvent *)
{
    if (!m_initialised) {
        m_initialised = true;
        m_hoverTimer.start();
    }
    QPainter painter(this);
    const QRect r = rect();
    const bool hovered = IsHovered();
    m_paintedHovered = hovered;

    painter.fillRect(r, hovered ? Scaled(kFace, 1.03) : kFace);
    Outline(painter, r, Scaled(palette().color(QPalette::Active, QPalette::Button), 0.9));

    QColor textColour = hovered ? QColor(Qt::black) : kIdleText;
    if (!isEnabled())
        textColour = palette().color(QPalette::Active, QPalette::Dark);

    QRect area;
    if (m_showCaption) {
        // The colour is a square at the right end, as wide as the control is high.
        area = QRect(QPoint(r.right() + 1 - r.height(), r.top() + kInset),
                     QPoint(r.right() - kInset, r.bottom() - kInset));
        const QRect caption(QPoint(r.left() + kCaptionLeft, r.top()),
                            QPoint(area.left() - kCaptionGap - 1, r.bottom()));
        if (caption.width() > 0) {
            const QString shown =
                painter.fontMetrics().elidedText(m_text, Qt::ElideRight, caption.width());
            painter.setPen(textColour);
            painter.drawText(caption, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                             shown);
        }
    } else {
        area = r.adjusted(kInset, kInset, -kInset, -kInset);
    }
    if (area.isEmpty())
        return;

    const QColor colour = GetColor();
    if (!isEnabled() && !m_showCaption)
        painter.fillRect(area, QBrush(colour, Qt::DiagCrossPattern));
    else
        painter.fillRect(area, colour);
    Outline(painter, area, Scaled(colour, 0.8));
}

void CEStaticColor::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    const std::optional<QColor> chosen = ChooseColor(this, GetColor());
    if (!chosen || !chosen->isValid())
        return;
    SetColor(*chosen, 0);
    m_flag = 0;
    m_userChanged = true;
    emit colourChanged();
}

void CEStaticColor::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(event);
}

void CEStaticColor::enterEvent(QEnterEvent *event)
{
    update();
    QWidget::enterEvent(event);
}

void CEStaticColor::leaveEvent(QEvent *event)
{
    update();
    QWidget::leaveEvent(event);
}
