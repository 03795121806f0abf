// The image viewer: where the image is drawn, and what Ctrl+C puts on the clipboard.

#include "listtests.h"
#include "imagelist/pixortaimageviewerdlg.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {
using namespace listtest;

PxImage Filled(uint32_t w, uint32_t h, PxRGBQuad colour)
{
    PxImage img;
    img.Create(w, h, 24);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            img.SetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
    return img;
}

TEST(ImageViewer, ShrinksToFitCentredAndNeverEnlarges)
{
    const QRect area(0, 0, 800, 600);
    EXPECT_EQ(CPixortaImageViewerDlg::FitRect({2000, 1000}, area), QRect(0, 100, 800, 400));
    EXPECT_EQ(CPixortaImageViewerDlg::FitRect({300, 200}, area), QRect(250, 200, 300, 200));

    CPixortaImageViewerDlg viewer;
    EXPECT_EQ(viewer.windowTitle(), "Pixorta image viewer");
    viewer.SetImage(Filled(2000, 1000, PxRGBQuad{0, 255, 0, 0}));
    viewer.resize(800, 600);
    viewer.show();
    ASSERT_EQ(viewer.ImageArea()->size(), QSize(800, 600));
    const QImage shown = viewer.Render();
    const QRgb black = qRgb(0, 0, 0), green = qRgb(0, 255, 0);
    EXPECT_EQ(shown.pixel(400, 99), black);
    EXPECT_EQ(shown.pixel(0, 100), green);
    EXPECT_EQ(shown.pixel(799, 499), green);
    EXPECT_EQ(shown.pixel(400, 500), black);

    // Maximised: fitted to the new size.
    viewer.resize(1200, 900);
    EXPECT_EQ(viewer.Render().pixel(600, 149), black);
    EXPECT_EQ(viewer.Render().pixel(600, 150), green);

    // No image, or no room: only black.
    CPixortaImageViewerDlg empty;
    empty.resize(300, 200);
    empty.show();
    const QImage blank = empty.Render();
    EXPECT_EQ(blank.pixel(150, 100), black);
    viewer.resize(0, 0);
    viewer.Render();
}

TEST(ImageViewer, CtrlCCopiesTheFullImageAsBitmapAndBmp)
{
    CPixortaImageViewerDlg viewer;
    viewer.resize(400, 300);
    viewer.show();
    viewer.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&viewer));
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(&viewer, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before") << "an empty image copies nothing";

    PxImage img = Filled(1500, 900, PxRGBQuad{10, 20, 30, 0});
    img.SetPixelColor(0, 899, PxRGBQuad{255, 255, 255, 0}); // the top-left pixel
    viewer.SetImage(img);
    QTest::keyClick(&viewer, Qt::Key_C, Qt::ControlModifier);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    const QImage copied = qvariant_cast<QImage>(data->imageData());
    EXPECT_EQ(copied.size(), QSize(1500, 900));
    EXPECT_EQ(copied.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(copied.pixel(1, 1), qRgb(30, 20, 10));
    const QByteArray bmp = data->data("image/bmp");
    const std::string block = img.CopyToHandle();
    ASSERT_EQ(bmp.size(), qsizetype(14 + block.size()));
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_EQ(bmp.mid(14), QByteArray(block.data(), qsizetype(block.size())));

    // The same bytes are a BMP file the engine reads back.
    PxImage back;
    ASSERT_TRUE(back.Decode(reinterpret_cast<const uint8_t *>(bmp.constData()),
                            size_t(bmp.size()), PXFORMAT_BMP));
    EXPECT_EQ(back.MakeBitmap(), img.MakeBitmap());
}

} // namespace
