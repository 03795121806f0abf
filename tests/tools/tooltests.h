#pragma once
// Shared by the tests that run the command-line tools: a tool run with what it printed, and the
// small pictures they work on.

#include "imageio/imagefile.h"
#include "engine/pximage.h"
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSize>
#include <QStringList>

struct Outcome {
    int status = -1;
    QString out, err;
};

// Every test runs in a process of its own: its tools keep their undo journal in a state folder
// of that process, never in the user's.
inline QProcessEnvironment ToolEnvironment()
{
    static TempFolder state;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", state.Path());
    return env;
}

inline Outcome RunTool(const QString &tool, const QStringList &args,
                       QProcessEnvironment env = ToolEnvironment())
{
    if (!env.contains("XDG_STATE_HOME"))
        env.insert("XDG_STATE_HOME", ToolEnvironment().value("XDG_STATE_HOME"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationDirPath() + "/../bin/" + tool, args);
    Outcome r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline Outcome PixortaBatch(const QStringList &args)
{
    return RunTool("pixorta-batch", args);
}

inline void MakeImage(const QString &path, int width, int height)
{
    PxImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            image.GetBits(y)[x] = static_cast<uint8_t>(x * 3 + y * 7);
    ASSERT_TRUE(SaveImageFile(image, path));
}

inline QSize SizeOf(const QString &path)
{
    PxImage image;
    if (!LoadImageFile(image, path))
        return {};
    return QSize(static_cast<int>(image.GetWidth()), static_cast<int>(image.GetHeight()));
}

