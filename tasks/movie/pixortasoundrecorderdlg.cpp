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

VoiceInputFinder &Finder()
{
    static VoiceInputFinder finder;
    return finder;
}

// The default microphone through Qt's audio layer.
class AudioSourceInput : public CVoiceInput {
public:
    explicit AudioSourceInput(const QAudioDevice &device) : m_device(device) {}
    ~AudioSourceInput() override { Stop(); }

    bool Start(QIODevice *sink) override
    {
        QAudioFormat format;
        format.setSampleRate(kSampleRate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        m_source = new QAudioSource(m_device, format, this);
        m_source->start(sink);
        if (m_source->error() != QAudio::NoError) {
            Stop();
            return false;
        }
        // The audio layer reports a device that fails or goes away only through its state.
        connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError)
                emit failed();
        });
        return true;
    }

    void Stop() override
    {
        if (!m_source)
            return;
        m_source->disconnect(this);
        m_source->stop();
        delete m_source;
        m_source = nullptr;
    }

private:
    QAudioDevice m_device;
    QAudioSource *m_source = nullptr;
};

std::unique_ptr<CVoiceInput> FindVoiceInput()
{
    if (Finder())
        return Finder()();
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<AudioSourceInput>(device);
}

} // namespace

VoiceInputFinder SetVoiceInputFinder(VoiceInputFinder finder)
{
    VoiceInputFinder previous = std::move(Finder());
    Finder() = std::move(finder);
    return previous;
}

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
    m_withoutVoice = new QPushButton(QStringLiteral("&Make the movie without a voice"), this);
    m_withoutVoice->setObjectName(QStringLiteral("withoutVoiceButton"));
    m_withoutVoice->hide();
    m_cancel = new QPushButton(QStringLiteral("Cancel (do not add this record)"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton *b : {m_start, m_stop, m_withoutVoice, m_cancel})
        b->setAccessibleName(b->text().remove(u'&'));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_withoutVoice);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_message);
    layout->addWidget(m_movieArea, 1);
    layout->addLayout(buttons);

    connect(m_start, &QPushButton::clicked, this, &CPixortaSoundRecorderDlg::OnStart);
    connect(m_stop, &QPushButton::clicked, this, &CPixortaSoundRecorderDlg::OnStopAndSave);
    connect(m_withoutVoice, &QPushButton::clicked, this,
            &CPixortaSoundRecorderDlg::OnWithoutVoice);
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
    // Asked before anything is offered, so that "Start recording" is never offered in vain.
    m_input = FindVoiceInput();
    if (m_input)
        connect(m_input.get(), &CVoiceInput::failed, this,
                &CPixortaSoundRecorderDlg::OnInputFailed);
    else
        ShowNoMicrophone();
    m_timer.start(kBlinkMs);
}

CPixortaSoundRecorderDlg::~CPixortaSoundRecorderDlg()
{
    StopRecording();
}

qint64 CPixortaSoundRecorderDlg::RecordedBytes() const
{
    return m_sink ? m_sink->writer.DataSize() : m_recordedBytes;
}

void CPixortaSoundRecorderDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // The movie is there to be seen from the start; without a microphone there is nothing
    // to wait for before it plays.
    OpenMovie();
    if (!m_input)
        StartMovie();
}

void CPixortaSoundRecorderDlg::ShowNoMicrophone()
{
    m_message->setVisible(true);
    m_message->setText(QStringLiteral("No microphone was found.\n") +
                       QStringLiteral("You can watch the slideshow here; ") +
                       QStringLiteral("\"Make the movie without a voice\"") +
                       QStringLiteral(" goes on without recording"));
    m_start->setText(QStringLiteral("&Start recording"));
    m_start->setEnabled(false);
    m_start->setDefault(false);
    m_stop->setEnabled(false);
    m_withoutVoice->show();
    m_withoutVoice->setDefault(true);
    m_withoutVoice->setFocus();
}

void CPixortaSoundRecorderDlg::OnStart()
{
    m_message->setText(
        QStringLiteral("You will now see the slideshow, so you can speak in the right time..."));
    {
        WaitCursor wait;
        m_start->setEnabled(false);
        m_start->setText(QStringLiteral("Wait..."));
        if (!StartRecording()) {
            m_input.reset();
            DiscardRecording();
            ShowNoMicrophone();
            StartMovie();
            return;
        }
        StartMovie();
        m_start->setText(QStringLiteral("Recording..."));
        m_stop->setEnabled(true);
    }
}

bool CPixortaSoundRecorderDlg::StartRecording()
{
    if (!m_input || m_wavPath.isEmpty())
        return false;
    m_sink = std::make_unique<WaveSink>();
    if (!m_sink->writer.Open(m_wavPath, 1, kSampleRate, 16) ||
        !m_sink->open(QIODevice::WriteOnly)) {
        m_sink.reset();
        return false;
    }
    if (!m_input->Start(m_sink.get())) {
        StopRecording();
        return false;
    }
    m_recording = true;
    return true;
}

void CPixortaSoundRecorderDlg::StopRecording()
{
    if (m_input)
        m_input->Stop();
    if (m_sink) {
        m_recordedBytes = m_sink->writer.DataSize();
        m_sink->close();
        m_sink->writer.Finish();
        m_sink.reset();
    }
    m_recording = false;
}

void CPixortaSoundRecorderDlg::DiscardRecording()
{
    if (!m_wavPath.isEmpty()) {
        std::error_code ec;
        std::filesystem::remove(ToFsPath(m_wavPath), ec);
    }
    m_recordedBytes = 0;
}

void CPixortaSoundRecorderDlg::OnInputFailed()
{
    StopRecording();
    m_input.reset();
    if (RecordedBytes() == 0) {
        DiscardRecording();
        ShowNoMicrophone();
        return;
    }
    // What came before the microphone stopped is a recording all the same.
    m_message->setVisible(true);
    m_message->setText(QStringLiteral("The microphone stopped recording. ") +
                       QStringLiteral("\"Stop and save\"") +
                       QStringLiteral(" keeps what was recorded"));
    m_start->setText(QStringLiteral("&Start recording"));
    m_start->setEnabled(false);
    m_stop->setEnabled(true);
}

void CPixortaSoundRecorderDlg::OpenMovie()
{
    if (m_movieWindow || m_moviePath.isEmpty())
        return;
    m_movieWindow = new CMovieWindow(m_movieArea);
    m_movieWindow->Open(m_moviePath);
    PlaceMovieWindow();
    m_movieWindow->show();
}

void CPixortaSoundRecorderDlg::StartMovie()
{
    if (m_movieWindow)
        m_movieWindow->SeekToStart();
    else
        OpenMovie();
    if (m_movieWindow)
        m_movieWindow->Play();
}

void CPixortaSoundRecorderDlg::CloseMovie()
{
    if (!m_movieWindow)
        return;
    m_movieWindow->Stop();
    m_movieWindow->Close();
    delete m_movieWindow;
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
    CloseMovie();
    StopRecording();
    m_timer.stop();
    if (RecordedBytes() == 0) {
        // An empty recording is no voice track: the movie goes on without one, and the user
        // is told rather than shown a save that saved nothing.
        DiscardRecording();
        m_wavPath.clear();
        ShowMessage(QStringLiteral("Nothing was recorded: the movie is made without a voice "
                                   "track."),
                    QString(), MsgButtons::Ok, MsgIcon::Information, this);
    }
    QDialog::accept();
}

void CPixortaSoundRecorderDlg::OnWithoutVoice()
{
    CloseMovie();
    StopRecording();
    m_timer.stop();
    DiscardRecording();
    m_wavPath.clear();
    QDialog::accept();
}

void CPixortaSoundRecorderDlg::OnCancel()
{
    if (ShowMessage(QStringLiteral("Are you sure you want to exit sound recorder?"), QString(),
                    MsgButtons::YesNo, MsgIcon::Question, this) == MsgAnswer::No)
        return;
    StopRecording();
    CloseMovie();
    DiscardRecording();
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
