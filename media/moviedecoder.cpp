#include "moviedecoder.h"

#include <QFileInfo>

#include "media/ffmpeg.h"

namespace {

// How long a transition frame of the slideshow is held.
constexpr qint64 kTransitionFrameMs = 110;
// The first slide comes within the first few frames; a movie is never read further for it.
constexpr int kFirstSlideSearchLimit = 64;

} // namespace

struct CMovieDecoder::State {
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    SwsContext *scaler = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    int stream = -1;
    bool draining = false;

    ~State()
    {
        FFmpeg().sws_freeContext(scaler);
        FFmpeg().av_frame_free(&frame);
        FFmpeg().av_packet_free(&packet);
        FFmpeg().avcodec_free_context(&codec);
        FFmpeg().avformat_close_input(&format);
    }
};

CMovieDecoder::CMovieDecoder() = default;
CMovieDecoder::~CMovieDecoder() = default;

bool CMovieDecoder::Open(const QString &path)
{
    Close();
    if (!LoadFFmpeg())
        return false;
    FFmpeg().av_log_set_level(AV_LOG_QUIET);
    auto s = std::make_unique<State>();
    // "file:" keeps a name with a colon from being read as a protocol.
    const QByteArray url = "file:" + path.toUtf8();
    if (FFmpeg().avformat_open_input(&s->format, url.constData(), nullptr, nullptr) < 0)
        return false;
    if (FFmpeg().avformat_find_stream_info(s->format, nullptr) < 0)
        return false;
    const AVCodec *decoder = nullptr;
    s->stream = FFmpeg().av_find_best_stream(s->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (s->stream < 0 || !decoder)
        return false;
    s->codec = FFmpeg().avcodec_alloc_context3(decoder);
    if (!s->codec ||
        FFmpeg().avcodec_parameters_to_context(s->codec,
                                               s->format->streams[s->stream]->codecpar) < 0 ||
        FFmpeg().avcodec_open2(s->codec, decoder, nullptr) < 0)
        return false;
    s->frame = FFmpeg().av_frame_alloc();
    s->packet = FFmpeg().av_packet_alloc();
    if (!s->frame || !s->packet || s->codec->width <= 0 || s->codec->height <= 0)
        return false;
    m_state = std::move(s);
    return true;
}

void CMovieDecoder::Close()
{
    m_state.reset();
}

bool CMovieDecoder::IsOpen() const
{
    return m_state != nullptr;
}

int CMovieDecoder::Width() const
{
    return m_state ? m_state->codec->width : 0;
}

int CMovieDecoder::Height() const
{
    return m_state ? m_state->codec->height : 0;
}

qint64 CMovieDecoder::DurationMs() const
{
    if (!m_state)
        return 0;
    const AVStream *st = m_state->format->streams[m_state->stream];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return FFmpeg().av_rescale_q(st->start_time != AV_NOPTS_VALUE ? st->start_time + st->duration
                                                             : st->duration,
                            st->time_base, AVRational{1, 1000});
    if (m_state->format->duration != AV_NOPTS_VALUE && m_state->format->duration > 0)
        return m_state->format->duration / (AV_TIME_BASE / 1000);
    return 0;
}

bool CMovieDecoder::ReadFrame(QImage &frame, qint64 &timeMs)
{
    if (!m_state)
        return false;
    State &s = *m_state;
    for (;;) {
        int rc = FFmpeg().avcodec_receive_frame(s.codec, s.frame);
        if (rc == 0)
            break;
        if (rc != AVERROR(EAGAIN) || s.draining)
            return false;
        rc = FFmpeg().av_read_frame(s.format, s.packet);
        if (rc < 0) {
            FFmpeg().avcodec_send_packet(s.codec, nullptr);
            s.draining = true;
            continue;
        }
        // The gaps of a time line are empty chunks: nothing to show, the last frame stays.
        if (s.packet->stream_index == s.stream && s.packet->size > 0)
            rc = FFmpeg().avcodec_send_packet(s.codec, s.packet);
        FFmpeg().av_packet_unref(s.packet);
        if (rc < 0 && rc != AVERROR(EAGAIN))
            return false;
    }

    const int w = s.frame->width, h = s.frame->height;
    s.scaler = FFmpeg().sws_getCachedContext(s.scaler, w, h, static_cast<AVPixelFormat>(s.frame->format),
                                    w, h, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
    QImage picture(w, h, QImage::Format_RGB32);
    if (!s.scaler || picture.isNull()) {
        FFmpeg().av_frame_unref(s.frame);
        return false;
    }
    uint8_t *planes[4] = {picture.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(picture.bytesPerLine()), 0, 0, 0};
    FFmpeg().sws_scale(s.scaler, s.frame->data, s.frame->linesize, 0, h, planes, strides);
    const int64_t pts = s.frame->best_effort_timestamp != AV_NOPTS_VALUE
                            ? s.frame->best_effort_timestamp
                            : s.frame->pts;
    timeMs = pts == AV_NOPTS_VALUE
                 ? 0
                 : FFmpeg().av_rescale_q(pts, s.format->streams[s.stream]->time_base, AVRational{1, 1000});
    FFmpeg().av_frame_unref(s.frame);
    frame = picture;
    return true;
}

bool CMovieDecoder::SeekToStart()
{
    if (!m_state)
        return false;
    State &s = *m_state;
    if (FFmpeg().av_seek_frame(s.format, s.stream, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
        FFmpeg().avformat_seek_file(s.format, -1, INT64_MIN, 0, 0, 0) < 0)
        return false;
    FFmpeg().avcodec_flush_buffers(s.codec);
    s.draining = false;
    return true;
}

bool IsMovieFile(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("avi"), Qt::CaseInsensitive) == 0;
}

QImage ReadFirstSlide(const QString &path)
{
    CMovieDecoder decoder;
    if (!decoder.Open(path))
        return QImage();
    QImage previous, current;
    qint64 previousTime = 0, time = 0;
    for (int index = 0; index < kFirstSlideSearchLimit && decoder.ReadFrame(current, time);
         ++index) {
        // Frame 0 is the lead-in; a later frame held longer (or shorter) than a transition
        // frame is a slide.
        if (index >= 2 && time - previousTime != kTransitionFrameMs)
            return previous;
        previous = current;
        previousTime = time;
    }
    return previous;
}
