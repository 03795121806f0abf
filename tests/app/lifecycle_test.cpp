#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

namespace {

TEST(Lifecycle, ThreeStartsAreCountedAndEachRunCleansItsBackupFolder)
{
    const QString driver = QCoreApplication::applicationDirPath() + "/lifecycle/lifecycle_driver";
    ASSERT_TRUE(QFile::exists(driver)) << driver.toStdString();
    const QString ini = QCoreApplication::applicationDirPath() + "/lifecycle/preferences.ini";
    QFile::remove(ini);
    for (int run = 1; run <= 3; ++run) {
        QProcess p;
        p.start(driver, {});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n');
        ASSERT_GE(lines.size(), 2);
        const QStringList running = lines[0].split(' ');
        ASSERT_EQ(running.size(), 3) << lines[0].toStdString();
        EXPECT_TRUE(running[1].contains("/pixorta_temp")) << running[1].toStdString();
        EXPECT_EQ(running[2], "1") << "the backup folder exists while the window is up";
        EXPECT_EQ(lines[1], "after: 0") << "the folder and its read-only file are gone";
    }
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), "[Options]\ngeneral.nusg=3\n");
}

} // namespace
