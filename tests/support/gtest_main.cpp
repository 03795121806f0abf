#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Each test process keeps its temporary files, the backup folder that the batch claims
    // and the undo journal included, in a folder of its own that goes when the process ends: nothing piles up in
    // the shared temporary folder, and parallel processes never meet there.
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/pixorta-test-XXXXXX"));
    if (scratch.isValid()) {
        qputenv("TMPDIR", QFile::encodeName(scratch.path()));
        // The window's batches and rotations go into the undo journal of the state folder:
        // this process's own, never the user's.
        qputenv("XDG_STATE_HOME", QFile::encodeName(scratch.path() + QStringLiteral("/state")));
    }
    // Widget tests need an application object; the offscreen platform is set by CTest.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
