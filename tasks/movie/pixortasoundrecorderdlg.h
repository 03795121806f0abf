#pragma once
// "Pixorta sound recorder": after the slideshow movie is written, records a voice commentary
// from the default microphone (16-bit mono PCM at 11025 Hz into a WAV file) while the movie
// plays beside it. "&Stop and save" ends with Accepted and leaves the WAV at WavPath();
// "Cancel (do not add this record)", Escape and the close box ask first, then delete it.
// Without a microphone the movie plays all the same, and the recorder offers to go on
// without a voice track (Accepted, no WAV).

#include "moviewindow.h"
#include "wavefile.h"

#include <QDialog>
#include <QIODevice>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QPushButton;

// Where the voice comes from: the default microphone through Qt's audio layer, or what a test
// puts in its place.
class CVoiceInput : public QObject {
    Q_OBJECT
public:
    // Starts writing 16-bit mono samples at 11025 Hz into sink; false when it cannot.
    virtual bool Start(QIODevice *sink) = 0;
    virtual void Stop() = 0;

signals:
    // After a successful Start, the input stopped on its own (the device failed or went away).
    void failed();
};

// Finds the input of the default microphone; null when the desktop has none.
using VoiceInputFinder = std::function<std::unique_ptr<CVoiceInput>()>;
// Replaces the finder (tests); returns the one installed before, empty for the real one.
VoiceInputFinder SetVoiceInputFinder(VoiceInputFinder finder);

class CPixortaSoundRecorderDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixortaSoundRecorderDlg(QWidget *parent = nullptr);
    ~CPixortaSoundRecorderDlg() override;

    // Set before the dialog runs; a size of 0 or less is unknown.
    QString m_moviePath;
    int m_movieWidth = 0;
    int m_movieHeight = 0;

    // Where the recording goes: a fresh name in the run's private backup folder.
    QString WavPath() const { return m_wavPath; }
    bool IsRecording() const { return m_recording; }
    // Bytes of sound recorded so far.
    qint64 RecordedBytes() const;
    CMovieWindow *MovieWindow() const { return m_movieWindow; }

    // Escape and the close box take the Cancel path.
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void OnStart();
    void OnStopAndSave();
    void OnWithoutVoice();
    void OnCancel();
    void OnTimer();
    void OnInputFailed();
    // False when no recording could be started.
    bool StartRecording();
    void StopRecording();
    // Shows the movie's first frame in the movie area (once).
    void OpenMovie();
    void StartMovie();
    void CloseMovie();
    void PlaceMovieWindow();
    // There is nothing to record from: says so and offers the movie without a voice.
    void ShowNoMicrophone();
    // Removes the recording's file; the name stays for a recording that may still come.
    void DiscardRecording();

    QLabel *m_message = nullptr;
    QFrame *m_movieArea = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_withoutVoice = nullptr;
    QPushButton *m_cancel = nullptr;
    QTimer m_timer;

    QString m_wavPath;
    std::unique_ptr<CVoiceInput> m_input;
    class WaveSink;
    std::unique_ptr<WaveSink> m_sink;
    qint64 m_recordedBytes = 0;
    QPointer<CMovieWindow> m_movieWindow;
    bool m_recording = false;
    bool m_shown = false;
};

// Offers the recorder for a finished movie and returns the WAV to add as its voice track, or ""
// when there is none. Without a widget application (a command-line run) nothing is offered.
QString RunSoundRecorder(const QString &moviePath, int movieWidth, int movieHeight);

using SoundRecorderRunner =
    std::function<QString(const QString &moviePath, int movieWidth, int movieHeight)>;
// Replaces the recorder (tests, command-line runs); returns the one installed before, empty for
// the real dialog.
SoundRecorderRunner SetSoundRecorderRunner(SoundRecorderRunner runner);
