#include "pixortaslideedit.h"

#include "numbertext_p.h"

#include <QRegularExpressionValidator>
#include <QSlider>

namespace {
constexpr int kTickMs = 200;
constexpr int kSliderMax = 200;
constexpr int kSliderStart = 100;
} // namespace

CPixortaSlideEdit::CPixortaSlideEdit(QWidget *parent) : QLineEdit(parent)
{
    setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &CPixortaSlideEdit::OnTick);
    connect(this, &QLineEdit::textChanged, this, &CPixortaSlideEdit::OnTextChanged);
}

void CPixortaSlideEdit::AttachSlider(QSlider *slider)
{
    if (!slider)
        return;
    slider->setRange(0, kSliderMax);
    slider->setValue(kSliderStart);
    m_slider = slider;
    m_linked = true;
    m_timer.start();
}

void CPixortaSlideEdit::OnTick()
{
    if (!m_slider)
        return;
    const int position = m_slider->value();
    // While the user types, the edit's text is the truth; the slider catches up once focus leaves.
    if (hasFocus() || position == m_lastSliderValue)
        return;
    m_settingText = true;
    setText(QString::number(position));
    m_lastSliderValue = position;
    m_settingText = false;
}

void CPixortaSlideEdit::OnTextChanged(const QString &text)
{
    if (m_settingText || !m_slider)
        return;
    m_settingSlider = true;
    m_slider->setValue(ReadSignedInt(text));
    m_settingSlider = false;
}
