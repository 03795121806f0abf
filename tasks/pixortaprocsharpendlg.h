#pragma once
// The Sharpen panel: switched on and off as a whole, the amount, the radius of the blur (one
// decimal) and the threshold of an unsharp mask, with a "Scenario: " sentence.

#include "pixortaprocessorbasedlg.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;

class CPixortaProcSharpenDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcSharpenDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;
    // While "Sharpen images" is checked.
    bool IsTaskEnabled() override;

protected:
    void AfterUserInput() override;

private:
    void UpdateScenario();

    QCheckBox *m_master = nullptr;
    CPixortaSpinEdit *m_amount = nullptr;
    QDoubleSpinBox *m_radius = nullptr;
    CPixortaSpinEdit *m_threshold = nullptr;
    QLabel *m_scenario = nullptr;
};
