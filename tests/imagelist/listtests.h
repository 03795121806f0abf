#pragma once
// Shared by the image-list tests: pictures written to disk and a shown list with its boxes
// recorded.

#include "undo/backup.h"
#include "imageio/imagefile.h"
#include "imagelist/imagelist_testhooks.h"
#include "imagelist/pixortaimagelistctrl.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>

namespace listtest {

// A w x h picture of one colour, or a left half / right half of two colours, in the format of
// the path's extension.
inline bool WriteImage(const QString &path, int w, int h, QRgb left, QRgb right)
{
    PxImage img;
    if (!img.Create(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 24))
        return false;
    for (int y = 0; y < h; ++y) {
        uint8_t *row = img.GetBits(static_cast<uint32_t>(y));
        for (int x = 0; x < w; ++x) {
            const QRgb c = x < w / 2 ? left : right;
            row[3 * x] = static_cast<uint8_t>(qBlue(c));
            row[3 * x + 1] = static_cast<uint8_t>(qGreen(c));
            row[3 * x + 2] = static_cast<uint8_t>(qRed(c));
        }
    }
    return SaveImageFile(img, path);
}

inline bool WriteImage(const QString &path, int w, int h, QRgb colour)
{
    return WriteImage(path, w, h, colour, colour);
}

inline void WriteText(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Shrinking a flat colour may leave its edges a step off.
inline bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 &&
           std::abs(qBlue(a) - qBlue(b)) <= 2;
}

inline QStringList Labels(const CPixortaImageListCtrl &list)
{
    QStringList labels;
    for (int i = 0; i < list.count(); ++i)
        labels << list.item(i)->text();
    return labels;
}

// Thumbnails are made in the background: what a test looks at waits until they are in.
inline void WaitForThumbnails(const CPixortaImageListCtrl &list)
{
    QTest::qWaitFor([&] { return !list.ThumbnailsPending(); }, 20000);
}

inline QImage CellOf(const CPixortaImageListCtrl &list, int entry)
{
    WaitForThumbnails(list);
    return list.Store().Cell(list.Entries().value(entry).thumbnail.cell).toImage();
}

inline QRgb CentreOf(const CPixortaImageListCtrl &list, int entry)
{
    const QImage cell = CellOf(list, entry);
    return cell.isNull() ? 0 : cell.pixel(cell.width() / 2, cell.height() / 2) & 0xFFFFFF;
}

inline void Select(CPixortaImageListCtrl &list, std::initializer_list<int> rows)
{
    list.clearSelection();
    for (int r : rows)
        list.item(r)->setSelected(true);
}

// An editable list on screen, its window active so that keys reach it, every box recorded.
class ListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetImageListSharedStateForTests();
        UndoHistory::Instance().Clear();
        list = std::make_unique<CPixortaImageListCtrl>();
        list->Initialize();
        list->resize(420, 420);
        list->show();
        list->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(list.get()));
        list->setFocus();
    }
    void TearDown() override
    {
        list.reset();
        UndoHistory::Instance().Clear();
        ResetImageListSharedStateForTests();
    }
    QString Write(const QString &name, QRgb colour, int w = 40, int h = 30)
    {
        const QString path = dir.File(name);
        QDir().mkpath(GetFolderOfPath(path));
        EXPECT_TRUE(WriteImage(path, w, h, colour)) << qPrintable(path);
        return path;
    }
    static QString GetFolderOfPath(const QString &path) { return path.left(path.lastIndexOf(u'/')); }

    TempFolder dir;
    MessageRecorder rec;
    std::unique_ptr<CPixortaImageListCtrl> list;
};

} // namespace listtest
