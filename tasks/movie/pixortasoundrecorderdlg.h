#pragma once
// "Pixorta sound recorder": after the slideshow movie is written, records a voice commentary
// from the default microphone (16-bit mono PCM at 11025 Hz into a WAV file) while the movie
// plays beside it. "&Stop and save" ends with Accepted and leaves the WAV at WavPath();
// "Cancel (do not add this record)", Escape and the close box ask first, then delete it.

#include "moviewindow.h"
#include "wavefile.h"

#include <QDialog>
#include <QIODevice>
#include <QPointer>
#include <QTimer>
#include <functional>

class QAudioSource;
class QFrame;
class QLabel;
class QPushButton;

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

private:
    void OnStart();
    void OnStopAndSave();
    void OnCancel();
    void OnTimer();
    // False when no recording could be started.
    bool StartRecording();
    void StopRecording();
    void StartMovie();
    void PlaceMovieWindow();

    QLabel *m_message = nullptr;
    QFrame *m_movieArea = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_cancel = nullptr;
    QTimer m_timer;

    QString m_wavPath;
    QAudioSource *m_source = nullptr;
    class WaveSink;
    std::unique_ptr<WaveSink> m_sink;
    QPointer<CMovieWindow> m_movieWindow;
    bool m_recording = false;
};

// Offers the recorder for a finished movie and returns the WAV to add as its voice track, or ""
// when there is none. Without a widget application (a command-line run) nothing is offered.
QString RunSoundRecorder(const QString &moviePath, int movieWidth, int movieHeight);

using SoundRecorderRunner =
    std::function<QString(const QString &moviePath, int movieWidth, int movieHeight)>;
// Replaces the recorder (tests, command-line runs); returns the one installed before, empty for
// the real dialog.
SoundRecorderRunner SetSoundRecorderRunner(SoundRecorderRunner runner);
