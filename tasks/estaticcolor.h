#pragma once
// A colour swatch with an optional caption: shows a colour, lights up under the mouse and opens
// the colour chooser when clicked.

#include <QColor>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>

class CEStaticColor : public QWidget {
    Q_OBJECT
public:
    explicit CEStaticColor(QWidget *parent = nullptr);
    explicit CEStaticColor(const QString &text, QWidget *parent = nullptr);

    // Red, green and blue; black at construction. The reserved byte travels beside it.
    QColor GetColor() const { return QColor(m_red, m_green, m_blue); }
    quint8 GetReserved() const { return m_reserved; }
    // Repaints.
    void SetColor(const QColor &colour, quint8 reserved = 0);

    // Owner-defined byte (task records use bit 0 to switch the colour on); 0 at construction and
    // cleared whenever the user picks a colour.
    quint8 GetFlag() const { return m_flag; }
    void SetFlag(quint8 flag) { m_flag = flag; }

    // The caption drawn beside the colour while the show-caption flag is set (the default).
    QString text() const { return m_text; }
    void setText(const QString &text);
    bool ShowsCaption() const { return m_showCaption; }
    void SetShowCaption(bool show);

    // Set once the user has picked a colour.
    bool IsUserChanged() const { return m_userChanged; }
    void SetUserChanged(bool changed) { m_userChanged = changed; }

    QSize sizeHint() const override;

signals:
    // The user picked a colour in the chooser.
    void colourChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void OnHoverTick();
    bool IsHovered() const;

    QString m_text;
    QTimer m_hoverTimer;
    QPoint m_lastCursor{-1, -1};
    quint8 m_red = 0;
    quint8 m_green = 0;
    quint8 m_blue = 0;
    quint8 m_reserved = 0;
    quint8 m_flag = 0;
    bool m_showCaption = true;
    bool m_initialised = false;
    bool m_paintedHovered = false;
    bool m_userChanged = false;
};
