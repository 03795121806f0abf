#include "pixortaapp.h"

#include "undo/backup.h"
#include "pixortadlg.h"
#include "core/preferences.h"

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <memory>

CPixortaApp::CPixortaApp(QStringList argumentsAfterProgram)
    : m_arguments(std::move(argumentsAfterProgram))
{
}

bool CPixortaApp::InitInstance()
{
    // The unique-name routine draws its random suffixes from the C generator.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::setlocale(LC_ALL, "");

    CIniPreferencesStore &prefs = GetPreferences();
    const qint32 starts = prefs.GetInt(QString(), QStringLiteral("general.nusg"), 0);
    prefs.SetInt(QString(), QStringLiteral("general.nusg"), starts + 1);

    EnsureBackupFolder();

    auto dlg = std::make_unique<CPixortaDlg>(m_arguments);
    if (m_hook)
        m_hook(*dlg);
    dlg->exec();

    RemoveBackupFolder();
    dlg.reset();
    return false;
}
