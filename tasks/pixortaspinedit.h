#pragma once
// A digits-only edit with spin buttons, as every task panel uses for its numbers. Unlike a
// QSpinBox it keeps the text exactly as typed: it may be empty (read as 0) and "0100" stays
// "0100", which the panels' scenario rules tell apart from "100". Arrows, the Up/Down and
// Page keys and the wheel step the number within the range.

#include <QAbstractSpinBox>

class CPixortaSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit CPixortaSpinEdit(QWidget *parent = nullptr);

    // text() of the base class reads what the edit shows.
    void setText(const QString &text);
    // The text read as a signed integer: leading digits, empty or non-numeric gives 0, values
    // beyond the int range saturate.
    int Value() const;

    void SetRange(int minimum, int maximum);
    int Minimum() const { return m_minimum; }
    int Maximum() const { return m_maximum; }

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;
    QSize sizeHint() const override;

signals:
    void textChanged(const QString &text);

protected:
    StepEnabled stepEnabled() const override;

private:
    int m_minimum = 0;
    int m_maximum = 2147483647;
};
