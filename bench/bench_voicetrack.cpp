// Peak memory of adding a long voice track to a slideshow movie: a WAV of SIZE MiB (default
// 1024; sparse, so it costs no disk until the movie is written) of 48 kHz 16-bit stereo goes
// into a one-slide movie, and the growth of the process's peak resident size is compared with
// the target (at most 64 MiB, whatever the size). Runs by hand, not in CI; needs SIZE MiB free
// twice over in the temporary folder:
//   bench_voicetrack [SIZE]
// Exits non-zero when the track does not go in or the target is missed.

#include "engine/pximage.h"
#include "tasks/movie/aviwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

qint64 PeakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool WriteSparseWave(const QString &path, qint64 dataBytes)
{
    char h[44] = {};
    std::memcpy(h, "RIFF", 4);
    qToLittleEndian<quint32>(static_cast<quint32>(36 + dataBytes), h + 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, h + 16);
    qToLittleEndian<quint16>(1, h + 20);
    qToLittleEndian<quint16>(2, h + 22);
    qToLittleEndian<quint32>(48000, h + 24);
    qToLittleEndian<quint32>(48000 * 4, h + 28);
    qToLittleEndian<quint16>(4, h + 32);
    qToLittleEndian<quint16>(16, h + 34);
    std::memcpy(h + 36, "data", 4);
    qToLittleEndian<quint32>(static_cast<quint32>(dataBytes), h + 40);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(h, 44) == 44 && f.resize(44 + dataBytes);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    if (mib < 1 || mib > 4000) {
        std::fprintf(stderr, "usage: bench_voicetrack [SIZE in MiB, 1 to 4000]\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString movie = dir.filePath("movie.avi"), wav = dir.filePath("voice.wav");
    const qint64 dataBytes = mib * 1024 * 1024 / 4 * 4;
    PxImage slide;
    slide.Create(64, 48, 24);
    {
        CAviWriter writer;
        if (!writer.Open(movie, QStringLiteral("MSVC"), 8000, 100, true) ||
            !writer.AddFrame(slide, 3000) || !writer.Close() ||
            !WriteSparseWave(wav, dataBytes)) {
            std::fprintf(stderr, "could not write the movie or the WAV in %s\n",
                         qPrintable(dir.path()));
            return 1;
        }
    }
    const qint64 before = PeakResidentKiB();
    QElapsedTimer timer;
    timer.start();
    CAviWriter writer;
    QString problem;
    const bool added = writer.OpenExisting(movie) &&
                       writer.AddWaveFile(wav, &problem) == CAviWriter::kOk && writer.Close();
    const double seconds = timer.elapsed() / 1000.0;
    const qint64 growth = PeakResidentKiB() - before;
    std::printf("voice track of %lld MiB: %s in %.1f s, peak resident size grew by %lld KiB "
                "(target at most 65536)\n",
                static_cast<long long>(mib), added ? "added" : qPrintable(problem), seconds,
                static_cast<long long>(growth));
    return added && growth <= 65536 ? 0 : 1;
}
