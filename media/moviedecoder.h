#pragma once
// Reads the frames of a movie file (the slideshow's AVI) through FFmpeg's demuxer and decoders,
// as pictures with the time at which each is shown. The movie window plays them; the image list
// and the completion dialog take a movie's thumbnail from its first slide.

#include <QImage>
#include <QString>
#include <memory>

class CMovieDecoder {
public:
    CMovieDecoder();
    ~CMovieDecoder();
    CMovieDecoder(const CMovieDecoder &) = delete;
    CMovieDecoder &operator=(const CMovieDecoder &) = delete;

    // Opens the movie's first video stream; false when there is none that can be decoded.
    bool Open(const QString &path);
    void Close();
    bool IsOpen() const;

    int Width() const;
    int Height() const;
    // Milliseconds from the start to the end of the last frame; 0 when unknown.
    qint64 DurationMs() const;

    // The next frame in display order as an RGB32 picture and the millisecond at which it is
    // shown; false at the end of the movie or on a damaged frame.
    bool ReadFrame(QImage &frame, qint64 &timeMs);
    // Back to the first frame.
    bool SeekToStart();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Whether the path names a movie that the system writes (by its extension, as image files are).
bool IsMovieFile(const QString &path);

// The picture of a slideshow movie's first slide: the first frame after the black lead-in
// that is not part of a transition (transition frames last 110 ms), or the only frame there
// is. A null image when the movie cannot be decoded.
QImage ReadFirstSlide(const QString &path);
