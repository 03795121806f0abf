#include "commandline.h"

void CPixortaCommandLineInfo::ParseParam(const QString &param, bool isFlag, bool)
{
    if (isFlag) {
        m_pendingOption = param.toLower();
        m_options.insert(param, QStringLiteral("TRUE"));
    } else if (m_pendingOption.isEmpty()) {
        m_fileNames << param;
    } else {
        m_options.insert(m_pendingOption, param);
        m_pendingOption.clear();
    }
}

void CPixortaCommandLineInfo::ParseCommandLine(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        const bool isFlag = arg.startsWith(u'-');
        ParseParam(isFlag ? arg.mid(1) : arg, isFlag, i + 1 == arguments.size());
    }
}
