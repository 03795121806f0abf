#include "aviwriter.h"

#include "core/paths.h"
#include "engine/pximage.h"
#include "ui/uiseams.h"
#include "video1encoder.h"
#include "voicetrack.h"
#include "wavefile.h"

#include <algorithm>
#include <filesystem>
#include <limits>

#include "media/ffmpeg.h"

namespace {

// FFmpeg reads a name with a colon as a protocol; "file:" keeps every path a plain file.
QByteArray Url(const QString &path)
{
    return "file:" + path.toUtf8();
}

void QuietLibrary()
{
    static const bool once = [] {
        FFmpeg().av_log_set_level(AV_LOG_ERROR);
        return true;
    }();
    (void)once;
}

struct InputCloser {
    void operator()(AVFormatContext *c) const { FFmpeg().avformat_close_input(&c); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser {
    void operator()(AVFormatContext *c) const
    {
        if (c->pb)
            FFmpeg().avio_closep(&c->pb);
        FFmpeg().avformat_free_context(c);
    }
};
using Output = std::unique_ptr<AVFormatContext, OutputCloser>;

struct PacketFree {
    void operator()(AVPacket *p) const { FFmpeg().av_packet_free(&p); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;

Input OpenInput(const QString &path)
{
    AVFormatContext *in = nullptr;
    if (FFmpeg().avformat_open_input(&in, Url(path).constData(), FFmpeg().av_find_input_format("avi"), nullptr) < 0)
        return nullptr;
    return Input(in);
}

Output OpenOutput(const QString &path)
{
    AVFormatContext *out = nullptr;
    if (FFmpeg().avformat_alloc_output_context2(&out, nullptr, "avi", nullptr) < 0 || !out)
        return nullptr;
    Output owned(out);
    if (FFmpeg().avio_open(&out->pb, Url(path).constData(), AVIO_FLAG_WRITE) < 0)
        return nullptr;
    return owned;
}

AVCodecID PcmCodec(int bits)
{
    switch (bits) {
    case 8: return AV_CODEC_ID_PCM_U8;
    case 16: return AV_CODEC_ID_PCM_S16LE;
    case 24: return AV_CODEC_ID_PCM_S24LE;
    case 32: return AV_CODEC_ID_PCM_S32LE;
    default: return AV_CODEC_ID_NONE;
    }
}

void RemoveFile(const QString &path)
{
    std::error_code ec;
    std::filesystem::remove(ToFsPath(path), ec);
}

} // namespace

CAviWriter::CAviWriter(bool autoClose) : m_autoClose(autoClose) {}

CAviWriter::~CAviWriter()
{
    if (m_autoClose && m_opened && !m_closed)
        Close();
    else
        Abandon();
}

quint32 CAviWriter::CodecCode(const QString &codec)
{
    const QByteArray text = codec.left(4).leftJustified(4, u' ').toLatin1();
    quint32 code = 0;
    for (int i = 0; i < 4; ++i)
        code |= quint32(quint8(text[i])) << (8 * i);
    return code;
}

bool CAviWriter::InitLibrary()
{
    // Without FFmpeg's libraries there is no muxer either: the same message.
    if (LoadFFmpeg())
        QuietLibrary();
    // There is nothing to be too old here; the message stays for a missing muxer or a codec
    // that we have no encoder for.
    const bool encoder = m_existing || m_codec == CodecCode(QStringLiteral("MSVC")) ||
                         m_codec == CodecCode(QStringLiteral("CRAM"));
    if (!LoadFFmpeg() || !FFmpeg().av_guess_format("avi", nullptr, nullptr) || !encoder) {
        ShowMessage(QStringLiteral("Cant't init AVI File - Video for Windows version is to old"),
                    QStringLiteral("Error"), MsgButtons::Ok, MsgIcon::Error);
        return false;
    }
    return true;
}

bool CAviWriter::Open(const QString &path, const QString &codec, int quality, int rate,
                      bool replaceExisting)
{
    if (m_opened)
        return false;
    m_rate = std::max(1, rate);
    m_codec = CodecCode(codec);
    m_quality = std::clamp(quality, 0, 10000);
    m_existing = false;
    if (!InitLibrary())
        return false;
    if (replaceExisting)
        RemoveFile(path);
    Output out = OpenOutput(path);
    if (!out)
        return false;
    m_output = out.release();
    m_path = path;
    m_encoder = std::make_unique<CVideo1Encoder>(m_quality);
    m_videoPosition = m_frameCount = m_audioPosition = m_written = 0;
    m_opened = true;
    m_closed = false;
    return true;
}

bool CAviWriter::OpenExisting(const QString &path)
{
    if (m_opened)
        return false;
    m_existing = true;
    if (!InitLibrary() || !OpenInput(path))
        return false;
    m_path = path;
    m_opened = true;
    m_closed = false;
    return true;
}

bool CAviWriter::CreateVideoStream(int width, int height)
{
    AVStream *st = FFmpeg().avformat_new_stream(m_output, nullptr);
    if (!st)
        return false;
    st->time_base = AVRational{1, m_rate};
    AVCodecParameters *par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_MSVIDEO1;
    par->codec_tag = m_codec;
    par->width = width;
    par->height = height;
    par->bits_per_coded_sample = 16;
    par->format = AV_PIX_FMT_RGB555LE;
    if (FFmpeg().avformat_write_header(m_output, nullptr) < 0)
        return false;
    m_headerWritten = true;
    m_width = width;
    m_height = height;
    return true;
}

bool CAviWriter::AddFrame(const PxImage &frame, qint64 durationMs)
{
    if (!m_opened || m_closed || m_existing || !frame.IsValid() || !m_output)
        return false;
    const PxImage *source = &frame;
    PxImage converted;
    if (frame.GetBpp() != 24) {
        converted.Copy(frame);
        if (!converted.IncreaseBpp(24))
            return false;
        source = &converted;
    }
    const auto width = static_cast<int>(source->GetWidth());
    const auto height = static_cast<int>(source->GetHeight());
    if (!m_headerWritten) {
        if (m_output->nb_streams > 0 || !CreateVideoStream(width, height))
            return false;
    } else if (width != m_width || height != m_height) {
        return false;
    }

    const qint64 duration = std::max<qint64>(durationMs, 0);
    const qint64 advance =
        duration > std::numeric_limits<qint64>::max() / m_rate
            ? std::numeric_limits<qint64>::max()
            : std::max<qint64>(duration * m_rate / 1000, 1);
    if (advance > kMaxPosition - m_videoPosition) {
        ShowMessage(QStringLiteral("Error: the movie is too long for the AVI time line"),
                    QStringLiteral("Error"), MsgButtons::Ok, MsgIcon::Error);
        return false;
    }

    m_encoder->Encode(source->GetBits(0), source->GetEffWidth(), width, height, m_packet);
    Packet pkt(FFmpeg().av_packet_alloc());
    int rc = pkt ? 0 : AVERROR(ENOMEM);
    // The muxer fills a gap in the time line with empty chunks, but only up to a limit; longer
    // pauses get empty chunks of our own along the way.
    while (rc >= 0 && m_videoPosition - m_written > kMuxerMaxGap) {
        FFmpeg().av_packet_unref(pkt.get());
        m_written += kMuxerMaxGap;
        pkt->pts = pkt->dts = m_written;
        pkt->stream_index = 0;
        rc = FFmpeg().av_write_frame(m_output, pkt.get());
        ++m_written;
    }
    if (rc >= 0)
        rc = FFmpeg().av_new_packet(pkt.get(), static_cast<int>(m_packet.size()));
    if (rc >= 0) {
        std::copy(m_packet.begin(), m_packet.end(), pkt->data);
        pkt->pts = pkt->dts = m_videoPosition;
        // No duration: the muxer would pad the end of the movie with it, and the movie is
        // meant to end at its last frame.
        pkt->flags |= AV_PKT_FLAG_KEY;
        pkt->stream_index = 0;
        rc = FFmpeg().av_write_frame(m_output, pkt.get());
    }
    if (rc < 0) {
        ShowMessage(QStringLiteral("Error: AVIStreamWrite, error %1").arg(rc));
        return false;
    }
    m_written = m_videoPosition + 1;
    m_videoPosition += advance;
    ++m_frameCount;
    return true;
}

long CAviWriter::AddWaveFile(const QString &path, QString *problem)
{
    const auto refuse = [problem](long code, const QString &why) {
        if (problem)
            *problem = why;
        return code;
    };
    if (!m_opened || m_closed || !m_existing)
        return refuse(kErrorFileOpen, QStringLiteral("the movie is not open for a sound track"));
    auto file = std::make_unique<QFile>();
    CWaveFile layout;
    // A layout that could not be read leaves no format behind; one that was read is refused
    // for what its format says.
    if (const QString why = OpenVoiceTrack(path, *file, layout); !why.isEmpty())
        return refuse(layout.m_format.isEmpty() ? kErrorFileOpen : kErrorBadFormat, why);
    // Later recordings continue the same track, so they must share its format.
    const QByteArray format = layout.m_format.left(16);
    if (!m_waveFormat.isEmpty() && m_waveFormat != format)
        return refuse(kErrorBadFormat,
                      QStringLiteral("its format differs from the sound added before it"));

    const QByteArray before = m_waveFormat;
    m_waveFormat = format;
    m_sources.push_back({std::move(file), layout.m_dataOffset,
                         layout.m_sampleCount * layout.BlockAlign()});
    QString why;
    const long rc = Remux(&why);
    if (rc != kOk) {
        m_sources.pop_back();
        m_waveFormat = before;
        return refuse(rc, why);
    }
    m_audioPosition += layout.m_sampleCount;
    return kOk;
}

long CAviWriter::Remux(QString *why)
{
    const auto refuse = [why](long code, const char *text) {
        *why = QString::fromLatin1(text);
        return code;
    };
    Input in = OpenInput(m_path);
    if (!in)
        return refuse(kErrorFileOpen, "the movie cannot be read");
    // Beside the movie, so the final rename stays within one file system. The file with the
    // sound added before stays until this one is complete.
    const QString next = MakeUniquePathLike(m_path, true);
    if (next.isEmpty())
        return refuse(kErrorFileWrite, "no file can be made beside the movie");
    Output out = OpenOutput(next);
    if (!out)
        return refuse(kErrorFileWrite, "no file can be made beside the movie");
    const auto fail = [&](long code, const char *text) {
        out.reset();
        RemoveFile(next);
        return refuse(code, text);
    };
    const char *const cannotWrite = "the movie with its sound track cannot be written";

    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream *st = FFmpeg().avformat_new_stream(out.get(), nullptr);
        if (!st || FFmpeg().avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar) < 0)
            return fail(kErrorFileWrite, cannotWrite);
        st->time_base = in->streams[i]->time_base;
    }
    CWaveFile fields;
    fields.m_format = m_waveFormat;
    const int channels = fields.Channels();
    const int rate = static_cast<int>(fields.SampleRate());
    const int blockAlign = fields.BlockAlign();
    AVStream *audio = FFmpeg().avformat_new_stream(out.get(), nullptr);
    if (!audio)
        return fail(kErrorFileWrite, cannotWrite);
    AVCodecParameters *par = audio->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = PcmCodec(fields.BitsPerSample());
    par->sample_rate = rate;
    FFmpeg().av_channel_layout_default(&par->ch_layout, channels);
    par->block_align = blockAlign;
    par->bits_per_coded_sample = fields.BitsPerSample();
    par->bit_rate = int64_t{rate} * blockAlign * 8;
    audio->time_base = AVRational{1, rate};
    if (FFmpeg().avformat_write_header(out.get(), nullptr) < 0)
        return fail(kErrorFileWrite, cannotWrite);

    // The recordings one after the other, read straight into each packet.
    qint64 totalBytes = 0;
    for (const WaveSource &source : m_sources)
        totalBytes += source.bytes;
    size_t reading = 0;
    qint64 within = 0;
    const auto readSound = [&](uint8_t *to, qint64 size) {
        while (size > 0) {
            if (reading >= m_sources.size())
                return false;
            const WaveSource &source = m_sources[reading];
            const qint64 n = std::min(size, source.bytes - within);
            if (n > 0 && (!source.file->seek(source.offset + within) ||
                          source.file->read(reinterpret_cast<char *>(to), n) != n))
                return false;
            to += n;
            size -= n;
            within += n;
            if (within == source.bytes) {
                ++reading;
                within = 0;
            }
        }
        return true;
    };

    const qint64 totalSamples = totalBytes / blockAlign;
    // Half a second a packet: at most 768 KiB at the highest rate and widest samples.
    const qint64 chunk = std::max(rate / 2, 1);
    qint64 nextSample = 0;
    bool soundRead = true;
    const auto writeAudioUpTo = [&](double seconds) {
        while (nextSample < totalSamples && double(nextSample) / rate <= seconds) {
            const qint64 count = std::min(chunk, totalSamples - nextSample);
            Packet pkt(FFmpeg().av_packet_alloc());
            if (!pkt || FFmpeg().av_new_packet(pkt.get(), static_cast<int>(count * blockAlign)) < 0)
                return false;
            if (!readSound(pkt->data, count * blockAlign)) {
                soundRead = false;
                return false;
            }
            pkt->pts = pkt->dts = nextSample;
            pkt->duration = count;
            pkt->flags |= AV_PKT_FLAG_KEY;
            pkt->stream_index = audio->index;
            FFmpeg().av_packet_rescale_ts(pkt.get(), AVRational{1, rate}, audio->time_base);
            if (FFmpeg().av_interleaved_write_frame(out.get(), pkt.get()) < 0)
                return false;
            nextSample += count;
        }
        return true;
    };
    const auto audioFailure = [&] {
        return soundRead ? fail(kErrorFileWrite, cannotWrite)
                         : fail(kErrorFileOpen, "it can no longer be read to its end");
    };

    Packet pkt(FFmpeg().av_packet_alloc());
    if (!pkt)
        return fail(kErrorFileWrite, cannotWrite);
    int rc;
    while ((rc = FFmpeg().av_read_frame(in.get(), pkt.get())) >= 0) {
        const AVRational from = in->streams[pkt->stream_index]->time_base;
        const int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (ts != AV_NOPTS_VALUE && !writeAudioUpTo(ts * av_q2d(from)))
            return audioFailure();
        FFmpeg().av_packet_rescale_ts(pkt.get(), from, out->streams[pkt->stream_index]->time_base);
        if (FFmpeg().av_interleaved_write_frame(out.get(), pkt.get()) < 0)
            return fail(kErrorFileWrite, cannotWrite);
    }
    if (rc != AVERROR_EOF)
        return fail(kErrorFileOpen, "the movie cannot be read");
    if (!writeAudioUpTo(std::numeric_limits<double>::infinity()))
        return audioFailure();
    if (FFmpeg().av_write_trailer(out.get()) < 0 || FFmpeg().avio_closep(&out->pb) < 0)
        return fail(kErrorFileWrite, cannotWrite);
    if (!m_replacement.isEmpty())
        RemoveFile(m_replacement);
    m_replacement = next;
    return kOk;
}

bool CAviWriter::Close()
{
    if (!m_opened || m_closed)
        return false;
    m_closed = true;
    bool ok = true;
    if (m_existing) {
        m_sources.clear();
        if (!m_replacement.isEmpty()) {
            std::error_code ec;
            std::filesystem::rename(ToFsPath(m_replacement), ToFsPath(m_path), ec);
            if (ec) {
                RemoveFile(m_replacement);
                ok = false;
            }
            m_replacement.clear();
        }
        return ok;
    }
    Output out(m_output);
    m_output = nullptr;
    ok = m_headerWritten && FFmpeg().av_write_trailer(out.get()) >= 0;
    ok = FFmpeg().avio_closep(&out->pb) >= 0 && ok;
    return ok;
}

void CAviWriter::Abandon()
{
    m_sources.clear();
    if (m_output) {
        Output(m_output).reset();
        m_output = nullptr;
    }
    if (!m_replacement.isEmpty()) {
        RemoveFile(m_replacement);
        m_replacement.clear();
    }
}
