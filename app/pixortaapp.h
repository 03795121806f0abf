#pragma once

#include <QStringList>

class CPixortaDlg;

// Prepares the process, runs the main window modally, cleans up after it. There is no message
// loop of its own: the process ends when the main window closes.
class CPixortaApp {
public:
    explicit CPixortaApp(QStringList argumentsAfterProgram);
    // The whole start-up and shut-down sequence; returns false, as no message loop follows.
    bool InitInstance();
    // Called with the main window once it is constructed, before it runs (tests drive it here).
    void SetMainWindowHook(void (*hook)(CPixortaDlg &)) { m_hook = hook; }

private:
    QStringList m_arguments;
    void (*m_hook)(CPixortaDlg &) = nullptr;
};
