// Writes pixorta-batch's manual page: the template with the option entries of the tasks and
// of the job filled in from their declarations. Run by the build.

#include "batchoptions.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: pixorta-manpage TEMPLATE OUTPUT\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "pixorta-manpage: cannot read %s\n", argv[1]);
        return 1;
    }
    const QByteArray page = BatchManPage(QString::fromUtf8(in.readAll())).toUtf8();
    QSaveFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(page) != page.size() || !out.commit()) {
        std::fprintf(stderr, "pixorta-manpage: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
