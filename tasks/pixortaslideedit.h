#pragma once
// A digits-only edit tied to a slider, so that the number and the slider always agree: typing
// moves the slider at once, and a moved slider updates the text on the next 200 ms tick unless
// the user is typing in the edit.

#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QTimer>

class CPixortaSlideEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CPixortaSlideEdit(QWidget *parent = nullptr);

    // Sets the slider's range to 0..200 and its position to 100, links it and starts the tick.
    void AttachSlider(QSlider *slider);
    QSlider *Slider() const { return m_slider; }
    bool IsLinked() const { return m_linked; }
    // True while the edit itself moves the slider, so an owner listening to the slider can tell
    // typing from dragging.
    bool IsSettingSlider() const { return m_settingSlider; }

private:
    void OnTick();
    void OnTextChanged(const QString &text);

    QPointer<QSlider> m_slider;
    QTimer m_timer;
    bool m_linked = false;
    bool m_settingText = false;
    bool m_settingSlider = false;
    int m_lastSliderValue = -1;
};
