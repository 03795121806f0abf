#pragma once
// Collects the file names of the command line. An argument is an option only when it starts
// with "-" (a "/" starts an absolute path on Linux); the argument after an option is that
// option's value, not a file.

#include <QMap>
#include <QString>
#include <QStringList>

class CPixortaCommandLineInfo {
public:
    virtual ~CPixortaCommandLineInfo() = default;
    virtual void ParseParam(const QString &param, bool isFlag, bool isLast);
    // Feeds every argument after the program name through ParseParam.
    void ParseCommandLine(const QStringList &argumentsAfterProgram);

    QString m_pendingOption;
    QStringList m_fileNames;
    QMap<QString, QString> m_options;
};
