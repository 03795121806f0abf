#pragma once
// The movie window of the sound recorder: shows a movie file scaled into its area and plays it
// in real time, so the user can speak along with the slides.

#include "media/moviedecoder.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

class CMovieWindow : public QWidget {
    Q_OBJECT
public:
    explicit CMovieWindow(QWidget *parent = nullptr);

    // Opens the movie and shows its first frame; false when it cannot be decoded.
    bool Open(const QString &path);
    void Close();
    bool SeekToStart();
    void Play();
    void Stop();
    // True from Play until the last frame's time has passed or Stop.
    bool IsPlaying() const { return m_playing; }

    // The frame on show, at the movie's own size.
    QImage CurrentFrame() const { return m_current; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void Advance();
    void ReadNext();

    CMovieDecoder m_decoder;
    QImage m_current;
    QImage m_next;
    qint64 m_nextTime = 0;
    bool m_haveNext = false;
    qint64 m_duration = 0;
    bool m_playing = false;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
