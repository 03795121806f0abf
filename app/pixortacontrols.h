#pragma once
// The main window's drawn controls: the banner, the clickable captions ("(refresh)", the
// advert line) and the preview. The clickable ones are buttons to the keyboard and to the
// accessibility interface, whatever they look like.

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QWidget>

// The banner picture centred on white, with a grey line along the bottom edge.
class CBannerPicture : public QWidget {
    Q_OBJECT
public:
    static constexpr QRgb kLineColour = 0xff646464; // RGB(100, 100, 100)

    explicit CBannerPicture(QWidget *parent = nullptr);
    // A null picture leaves the banner blank.
    void SetPicture(const QImage &picture);
    const QImage &Picture() const { return m_picture; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
};

// A caption in its own colour, on its own fill when one is given, that acts as a button.
class CLinkCaption : public QAbstractButton {
    Q_OBJECT
public:
    CLinkCaption(const QString &text, QColor textColour, QColor fill, QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_textColour;
    QColor m_fill;
};

// A bordered box that shows a picture centred; clicking or double-clicking it is its command.
class CPreviewPicture : public QAbstractButton {
    Q_OBJECT
public:
    explicit CPreviewPicture(QWidget *parent = nullptr);
    void SetPicture(const QImage &picture);
    void Clear() { SetPicture(QImage()); }
    const QImage &Picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
};

// The program's own pictures, from the resources linked into it.
QIcon ProgramIcon();
// The task selector's icon of that index (0 Resize, 1 Add background, 2 Add text, 3 Change
// colors, 4 Create slideshow, 5 Crop, 6 Sharpen, 7 Watermark).
QIcon TaskSelectorIcon(int index);
