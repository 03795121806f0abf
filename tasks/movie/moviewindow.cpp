#include "moviewindow.h"

#include <QPainter>

namespace {

// How often a playing movie looks for its next frame; slideshow frames last 80 ms or more.
constexpr int kFrameCheckMs = 20;

} // namespace

CMovieWindow::CMovieWindow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("movieWindow"));
    setAccessibleName(QStringLiteral("Movie"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_timer.setInterval(kFrameCheckMs);
    connect(&m_timer, &QTimer::timeout, this, &CMovieWindow::Advance);
}

bool CMovieWindow::Open(const QString &path)
{
    Close();
    if (!m_decoder.Open(path))
        return false;
    m_duration = m_decoder.DurationMs();
    return SeekToStart();
}

void CMovieWindow::Close()
{
    Stop();
    m_decoder.Close();
    m_current = QImage();
    m_next = QImage();
    m_haveNext = false;
    update();
}

bool CMovieWindow::SeekToStart()
{
    if (!m_decoder.IsOpen() || !m_decoder.SeekToStart())
        return false;
    qint64 time = 0;
    if (!m_decoder.ReadFrame(m_current, time))
        return false;
    ReadNext();
    m_clock.start();
    update();
    return true;
}

void CMovieWindow::ReadNext()
{
    m_haveNext = m_decoder.ReadFrame(m_next, m_nextTime);
}

void CMovieWindow::Play()
{
    if (!m_decoder.IsOpen())
        return;
    m_playing = true;
    m_clock.start();
    m_timer.start();
}

void CMovieWindow::Stop()
{
    m_playing = false;
    m_timer.stop();
}

void CMovieWindow::Advance()
{
    const qint64 now = m_clock.elapsed();
    bool changed = false;
    while (m_haveNext && m_nextTime <= now) {
        m_current = m_next;
        changed = true;
        ReadNext();
    }
    if (changed)
        update();
    if (!m_haveNext && now >= m_duration)
        Stop();
}

void CMovieWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_current.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_current);
}
