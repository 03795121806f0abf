#pragma once
// The Resize panel: a percentage or constant dimensions, with a live "Scenario: " sentence that
// tells the user in words what will happen.

#include "pixortaprocessorbasedlg.h"

class QCheckBox;
class QLabel;
class QRadioButton;

class CPixortaProcSizeDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcSizeDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;

protected:
    void AfterUserInput() override;

private:
    // Enables the controls of the chosen mode and rewrites the scenario line.
    void UpdateScenario();

    QRadioButton *m_percentageMode = nullptr;
    QRadioButton *m_constantMode = nullptr;
    CPixortaSpinEdit *m_percentage = nullptr;
    QCheckBox *m_widthSwitch = nullptr;
    CPixortaSpinEdit *m_width = nullptr;
    QCheckBox *m_heightSwitch = nullptr;
    CPixortaSpinEdit *m_height = nullptr;
    QLabel *m_scenario = nullptr;
};
