#include "pixortasoundrecorderdlg.h"

#include "undo/backup.h"
#include "core/paths.h"
#include "moviewindow.h"
#include "ui/uiseams.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

namespace {

constexpr int kBlinkMs = 500;
constexpr int kMovieMargin = 20;
constexpr int kSampleRate = 11025;

// Shared by every recorder of the process, so a blink phase carries over.
int g_ticks = 0;

SoundRecorderRunner &Runner()
{
    static SoundRecorderRunner runner;
    return runner;
}

} // namespace

// Receives the recorder's samples and writes them into the WAV file as they come.
class CPixortaSoundRecorderDlg::WaveSink : public QIODevice {
public:
    CWaveWriter writer;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        writer.Write(data, size);
        return size;
    }
};

CPixortaSoundRecorderDlg::CPixortaSoundRecorderDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("soundRecorder"));
    setWindowTitle(QStringLiteral("Pixorta sound recorder"));

    m_message = new QLabel(QStringLiteral("Sound recorder."), this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setMinimumHeight(2 * m_message->fontMetrics().lineSpacing());
    m_movieArea = new QFrame(this);
    m_movieArea->setObjectName(QStringLiteral("movieArea"));
    m_movieArea->setAccessibleName(QStringLiteral("Movie area"));
    m_movieArea->setFrameShape(QFrame::StyledPanel);
    m_movieArea->setMinimumSize(440, 340);
    m_movieArea->installEventFilter(this);
    m_start = new QPushButton(QStringLiteral("&Start recording"), this);
    m_start->setObjectName(QStringLiteral("startButton"));
    m_start->setDefault(true);
    m_stop = new QPushButton(QStringLiteral("&Stop and save"), this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    m_cancel = new QPushButton(QStringLiteral("Cancel (do not add this record)"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton *b : {m_start, m_stop, m_cancel})
        b->setAccessibleName(b->text().remove(u'&'));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_message);
    layout->addWidget(m_movieArea, 1);
    layout->addLayout(buttons);

    connect(m_start, &QPushButton::clicked, this, &CPixortaSoundRecorderDlg::OnStart);
    connect(m_stop, &QPushButton::clicked, this, &CPixortaSoundRecorderDlg::OnStopAndSave);
    connect(m_cancel, &QPushButton::clicked, this, &CPixortaSoundRecorderDlg::OnCancel);
    connect(&m_timer, &QTimer::timeout, this, &CPixortaSoundRecorderDlg::OnTimer);

    // In the run's own folder (readable by this user only) under a fresh name, so no one else
    // can plant a file or link where the recording goes.
    m_wavPath = MakeUniquePath(GetBackupFolder(), QStringLiteral("pixorta voice record"),
                               QStringLiteral("wav"), true);
    m_stop->setEnabled(false);
    m_message->setText(
        QStringLiteral("The slideshow is now created. If you have a microphone, you can record "
                       "voice comments for the movie\n") +
        QStringLiteral("Press ") + QStringLiteral("\"Start recording\"") +
        QStringLiteral(" to do so, or ") + QStringLiteral("\"Cancel\"") +
        QStringLiteral(" to omit this step"));
    m_timer.start(kBlinkMs);
}

CPixortaSoundRecorderDlg::~CPixortaSoundRecorderDlg()
{
    StopRecording();
}

qint64 CPixortaSoundRecorderDlg::RecordedBytes() const
{
    return m_sink ? m_sink->writer.DataSize() : 0;
}

void CPixortaSoundRecorderDlg::OnStart()
{
    m_message->setText(
        QStringLiteral("You will now see the slideshow, so you can speak in the right time..."));
    {
        WaitCursor wait;
        m_start->setEnabled(false);
        m_start->setText(QStringLiteral("Wait..."));
        if (StartRecording())
            StartMovie();
        m_start->setText(QStringLiteral("Recording..."));
        m_stop->setEnabled(true);
    }
}

bool CPixortaSoundRecorderDlg::StartRecording()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull() || m_wavPath.isEmpty())
        return false;
    QAudioFormat format;
    format.setSampleRate(kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);

    m_sink = std::make_unique<WaveSink>();
    if (!m_sink->writer.Open(m_wavPath, 1, kSampleRate, 16) ||
        !m_sink->open(QIODevice::WriteOnly)) {
        m_sink.reset();
        return false;
    }
    m_source = new QAudioSource(device, format, this);
    m_source->start(m_sink.get());
    if (m_source->error() != QAudio::NoError) {
        StopRecording();
        std::error_code ec;
        std::filesystem::remove(ToFsPath(m_wavPath), ec);
        return false;
    }
    return true;
}

void CPixortaSoundRecorderDlg::StopRecording()
{
    if (m_source) {
        m_source->stop();
        delete m_source;
        m_source = nullptr;
    }
    if (m_sink) {
        m_sink->close();
        m_sink->writer.Finish();
        m_sink.reset();
    }
}

void CPixortaSoundRecorderDlg::StartMovie()
{
    if (m_movieWindow) {
        m_movieWindow->SeekToStart();
    } else {
        m_movieWindow = new CMovieWindow(m_movieArea);
        m_movieWindow->Open(m_moviePath);
        PlaceMovieWindow();
        m_movieWindow->show();
    }
    m_movieWindow->Play();
    m_recording = true;
}

void CPixortaSoundRecorderDlg::PlaceMovieWindow()
{
    if (!m_movieWindow)
        return;
    const QRect area = m_movieArea->rect().adjusted(kMovieMargin, kMovieMargin, -kMovieMargin,
                                                    -kMovieMargin);
    QRect place = area;
    if (m_movieWidth > 0 && m_movieHeight > 0 && area.width() > 0 && area.height() > 0) {
        // Scaled down to fit, never enlarged, and centred.
        const double scale = std::min({1.0, double(area.width()) / m_movieWidth,
                                       double(area.height()) / m_movieHeight});
        const int w = static_cast<int>(m_movieWidth * scale);
        const int h = static_cast<int>(m_movieHeight * scale);
        place = QRect(area.left() + (area.width() - w) / 2, area.top() + (area.height() - h) / 2,
                      w, h);
    }
    m_movieWindow->setGeometry(place);
}

bool CPixortaSoundRecorderDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_movieArea && event->type() == QEvent::Resize)
        PlaceMovieWindow();
    return QDialog::eventFilter(watched, event);
}

void CPixortaSoundRecorderDlg::OnTimer()
{
    ++g_ticks;
    if (m_recording && m_movieWindow && !m_movieWindow->IsPlaying()) {
        m_message->setText(QStringLiteral("The movie is over, you can stop (") +
                           QStringLiteral("\"Stop and Save\"") +
                           QStringLiteral(" button) or continue recording"));
        m_message->setVisible(g_ticks % 3 != 0);
    }
}

void CPixortaSoundRecorderDlg::OnStopAndSave()
{
    if (m_movieWindow) {
        m_movieWindow->Stop();
        m_movieWindow->Close();
        delete m_movieWindow;
    }
    StopRecording();
    m_timer.stop();
    QDialog::accept();
}

void CPixortaSoundRecorderDlg::OnCancel()
{
    if (ShowMessage(QStringLiteral("Are you sure you want to exit sound recorder?"), QString(),
                    MsgButtons::YesNo, MsgIcon::Question, this) == MsgAnswer::No)
        return;
    StopRecording();
    if (m_movieWindow) {
        m_movieWindow->Stop();
        m_movieWindow->Close();
        delete m_movieWindow;
    }
    if (!m_wavPath.isEmpty()) {
        std::error_code ec;
        std::filesystem::remove(ToFsPath(m_wavPath), ec);
    }
    m_wavPath.clear();
    m_timer.stop();
    QDialog::reject();
}

void CPixortaSoundRecorderDlg::reject()
{
    OnCancel();
}

QString RunSoundRecorder(const QString &moviePath, int movieWidth, int movieHeight)
{
    if (Runner())
        return Runner()(moviePath, movieWidth, movieHeight);
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return QString();
    CPixortaSoundRecorderDlg dialog(QApplication::activeWindow());
    dialog.m_moviePath = moviePath;
    dialog.m_movieWidth = movieWidth;
    dialog.m_movieHeight = movieHeight;
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.WavPath();
}

SoundRecorderRunner SetSoundRecorderRunner(SoundRecorderRunner runner)
{
    SoundRecorderRunner previous = std::move(Runner());
    Runner() = std::move(runner);
    return previous;
}
