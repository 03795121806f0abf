// Time of the slideshow's whole finishing step (loading, letterboxing, transitions, coding,
// writing) for 20 photos at 1024 x 768, pause 5, one appear and one disappear effect, against
// the movie's own playing time (target: at most 0.5 of it); then our Video 1 encoder alone
// beside `ffmpeg -c:v msvideo1` on the same frames. Runs by hand, not in CI:
//   bench_slideshow PHOTO_FOLDER ["Appear effect|Disappear effect" ...]
// Exits non-zero when a run misses the target.

#include "media/moviedecoder.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "tasks/movie/video1encoder.h"
#include "tasks/pixortaslideshowtask.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// The decoded frames of a movie as 24-bit bottom-up rows, as the encoder takes them.
std::vector<QImage> Frames(const QString &movie)
{
    std::vector<QImage> frames;
    CMovieDecoder decoder;
    if (!decoder.Open(movie))
        return frames;
    QImage frame;
    qint64 time = 0;
    while (decoder.ReadFrame(frame, time))
        frames.push_back(frame.convertToFormat(QImage::Format_BGR888).mirrored());
    return frames;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_slideshow PHOTO_FOLDER [\"Appear|Disappear\" ...]\n");
        return 2;
    }
    QStringList photos = QDir(QString::fromLocal8Bit(argv[1]))
                             .entryList({"*.jpg", "*.jpeg", "*.JPG"}, QDir::Files, QDir::Name);
    if (photos.size() < 20) {
        std::fprintf(stderr, "need 20 photos in %s\n", argv[1]);
        return 2;
    }
    photos = photos.mid(0, 20);
    for (QString &p : photos)
        p = QDir(QString::fromLocal8Bit(argv[1])).filePath(p);
    QStringList combos;
    for (int i = 2; i < argc; ++i)
        combos << QString::fromLocal8Bit(argv[i]);
    if (combos.isEmpty())
        combos = {"Lighten|Darken", "Enter from left|Away to right", "Zoom in|Zoom out",
                  "Rotate right|Rotate left"};
    SetSoundRecorderRunner([](const QString &, int, int) { return QString(); });

    std::printf("%d cores; 20 photos, 1024 x 768, pause 5, quality 80\n",
                QThread::idealThreadCount());
    std::printf("%-32s %8s %8s %8s %7s %7s %9s %9s\n", "effects", "movie s", "wall s", "cpu s",
                "ratio", "frames", "ours s", "ffmpeg s");
    bool allMet = true;
    for (const QString &combo : std::as_const(combos)) {
        QTemporaryDir dir;
        CPixortaSlideShowTask task;
        task.m_create = 1;
        task.m_appearEffects = combo.section(u'|', 0, 0);
        task.m_disappearEffects = combo.section(u'|', 1, 1);
        QStringList outputs = photos, extra;
        CRunBackupStore backups;
        QElapsedTimer wall;
        const double cpu0 = CpuSeconds();
        wall.start();
        const bool ok = task.Finish(outputs, dir.path(), backups, extra);
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double cpu = CpuSeconds() - cpu0;
        if (!ok || extra.isEmpty()) {
            std::printf("%-32s failed\n", qPrintable(combo));
            allMet = false;
            continue;
        }
        CMovieDecoder probe;
        probe.Open(extra.front());
        const double movieSeconds = probe.DurationMs() / 1000.0;

        // The same frames through our encoder alone and through FFmpeg's.
        const std::vector<QImage> frames = Frames(extra.front());
        const CVideo1Encoder encoder(8000);
        std::vector<uint8_t> packet;
        QElapsedTimer ours;
        ours.start();
        for (const QImage &f : frames)
            encoder.Encode(f.constBits(), static_cast<size_t>(f.bytesPerLine()), f.width(),
                           f.height(), packet);
        const double oursSeconds = ours.nsecsElapsed() / 1e9;
        QFile raw(dir.filePath("frames.raw"));
        raw.open(QIODevice::WriteOnly);
        for (const QImage &f : frames)
            raw.write(reinterpret_cast<const char *>(f.mirrored().constBits()),
                      f.sizeInBytes());
        raw.close();
        QElapsedTimer theirs;
        theirs.start();
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v", "error", "-f", "rawvideo", "-pix_fmt", "bgr24", "-s",
                                "1024x768", "-i", raw.fileName(), "-c:v", "msvideo1", "-y",
                                dir.filePath("ffmpeg.avi")});
        ffmpeg.waitForFinished(-1);
        const double theirsSeconds = theirs.nsecsElapsed() / 1e9;

        const double ratio = seconds / movieSeconds;
        allMet = allMet && ratio <= 0.5;
        std::printf("%-32s %8.2f %8.2f %8.2f %7.3f %7zu %9.2f %9.2f\n", qPrintable(combo),
                    movieSeconds, seconds, cpu, ratio, frames.size(), oursSeconds,
                    theirsSeconds);
        std::fflush(stdout);
    }
    return allMet ? 0 : 1;
}
