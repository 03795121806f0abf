#include "pixortaspinedit.h"

#include "numbertext_p.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <algorithm>

CPixortaSpinEdit::CPixortaSpinEdit(QWidget *parent) : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(true);
    connect(lineEdit(), &QLineEdit::textChanged, this, [this](const QString &text) {
        update(); // the arrows' enabled state follows the number
        emit textChanged(text);
    });
}

void CPixortaSpinEdit::setText(const QString &text)
{
    lineEdit()->setText(text);
}

int CPixortaSpinEdit::Value() const
{
    return ReadSignedInt(text());
}

void CPixortaSpinEdit::SetRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    update();
}

void CPixortaSpinEdit::stepBy(int steps)
{
    const qint64 next = std::clamp<qint64>(qint64(Value()) + steps, m_minimum, m_maximum);
    setText(QString::number(next));
    selectAll();
}

QValidator::State CPixortaSpinEdit::validate(QString &input, int &) const
{
    const bool digitsOnly = std::all_of(input.cbegin(), input.cend(),
                                        [](QChar c) { return c >= u'0' && c <= u'9'; });
    return digitsOnly ? QValidator::Acceptable : QValidator::Invalid;
}

QSize CPixortaSpinEdit::sizeHint() const
{
    ensurePolished();
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QSize content(fontMetrics().horizontalAdvance(QString::number(m_maximum)) + 6,
                        lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, content, this);
}

QAbstractSpinBox::StepEnabled CPixortaSpinEdit::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    const int value = Value();
    StepEnabled enabled = StepNone;
    if (value < m_maximum)
        enabled |= StepUpEnabled;
    if (value > m_minimum)
        enabled |= StepDownEnabled;
    return enabled;
}
