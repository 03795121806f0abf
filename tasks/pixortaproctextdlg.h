#pragma once
// The Add-text panel: the caption with its dynamic variables, alignment, margins, size,
// colours, shadow, background box and font, with a small preview of where the text goes.

#include "pixortaprocessorbasedlg.h"
#include "pixortatexttask.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class CEStaticColor;

class CPixortaProcTextDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcTextDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;

    // The chooser's answer replaces the font, and from then on records carry it.
    void ChangeFont();
    // Shows the variables menu and inserts the chosen variable at the caret.
    void InsertVariable();

    const TaskFont &Font() const { return m_font; }
    bool IsFontChosen() const { return m_fontChosen; }

private:
    QPlainTextEdit *m_text = nullptr;
    QLabel *m_variableLink = nullptr;
    QComboBox *m_hAlign = nullptr;
    QComboBox *m_vAlign = nullptr;
    CPixortaSpinEdit *m_xMargin = nullptr;
    CPixortaSpinEdit *m_yMargin = nullptr;
    CPixortaSpinEdit *m_textSize = nullptr;
    CEStaticColor *m_textColour = nullptr;
    QCheckBox *m_shadowSwitch = nullptr;
    CEStaticColor *m_shadowColour = nullptr;
    QCheckBox *m_backgroundSwitch = nullptr;
    CEStaticColor *m_backgroundColour = nullptr;
    QPushButton *m_changeFont = nullptr;
    QWidget *m_preview = nullptr;
    TaskFont m_font = TaskFont::Default();
    bool m_fontChosen = false;
};
