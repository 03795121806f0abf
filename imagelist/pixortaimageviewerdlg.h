#pragma once
// Shows one image in a resizable black window, scaled down to fit and centred; Ctrl+C copies
// the full-size image to the clipboard. Enter and Escape close it.

#include "engine/pximage.h"

#include <QDialog>
#include <QRect>

class QWidget;

class CPixortaImageViewerDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixortaImageViewerDlg(QWidget *parent = nullptr);
    ~CPixortaImageViewerDlg() override;

    // The viewer keeps its own copy.
    void SetImage(const PxImage &image);
    const PxImage &Image() const { return m_image; }

    // Where an image of the given size is drawn inside the area: shrunk to fit when it is at
    // least as wide or as high as the area, never enlarged, centred (offsets truncated).
    static QRect FitRect(QSize image, const QRect &area);
    // The area the image is painted into, and the picture it shows there (the double buffer).
    QWidget *ImageArea() const;
    QImage Render();

    // Ctrl+C: the full image as a bitmap and as "image/bmp"; nothing for an empty image.
    void CopyToClipboard() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    class Area;
    PxImage m_image;
    Area *m_area = nullptr;
};
