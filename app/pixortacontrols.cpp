#include "pixortacontrols.h"

#include <QIcon>
#include <QPainter>
#include <iterator>

CBannerPicture::CBannerPicture(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("banner"));
    setAccessibleName(QStringLiteral("Pixorta"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBannerPicture::SetPicture(const QImage &picture)
{
    m_picture = picture;
    updateGeometry();
    update();
}

QSize CBannerPicture::sizeHint() const
{
    return QSize(m_picture.isNull() ? 400 : m_picture.width(),
                 (m_picture.isNull() ? 58 : m_picture.height()) + 1);
}

void CBannerPicture::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!m_picture.isNull())
        p.drawImage((width() - m_picture.width()) / 2, (height() - 1 - m_picture.height()) / 2,
                    m_picture);
    p.setPen(QColor::fromRgb(kLineColour));
    p.drawLine(0, height() - 1, width() - 1, height() - 1);
}

CLinkCaption::CLinkCaption(const QString &text, QColor textColour, QColor fill, QWidget *parent)
    : QAbstractButton(parent), m_textColour(textColour), m_fill(fill)
{
    setText(text);
    setFocusPolicy(Qt::TabFocus);
}

QSize CLinkCaption::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return QSize(fm.horizontalAdvance(text()) + 4, fm.height() + 2);
}

void CLinkCaption::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (m_fill.isValid())
        p.fillRect(rect(), m_fill);
    p.setPen(m_textColour);
    p.drawText(rect().adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
    if (hasFocus()) {
        QPen dotted(m_textColour, 1, Qt::DotLine);
        p.setPen(dotted);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

CPreviewPicture::CPreviewPicture(QWidget *parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::TabFocus);
}

void CPreviewPicture::SetPicture(const QImage &picture)
{
    m_picture = picture;
    update();
}

void CPreviewPicture::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    if (!m_picture.isNull())
        p.drawImage((width() - m_picture.width()) / 2, (height() - m_picture.height()) / 2,
                    m_picture);
    p.setPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pixorta/icons/pixorta-%1.png").arg(size), QSize(size, size));
    return icon;
}

QIcon TaskSelectorIcon(int index)
{
    static const char *const kNames[] = {"task-resize", "task-background", "task-text",
                                         "task-colors", "task-slideshow", "task-crop",
                                         "task-sharpen", "task-watermark"};
    if (index < 0 || index >= int(std::size(kNames)))
        index = 0;
    return QIcon(QStringLiteral(":/pixorta/icons/%1.png").arg(QLatin1String(kNames[index])));
}
