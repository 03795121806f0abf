#pragma once
// The Crop panel: switched on and off as a whole, one of three ways of choosing the part kept
// (an aspect ratio at one of nine places, a rectangle in pixels, margins in percent), and a
// "Scenario: " sentence that says what will happen.

#include "pixortaprocessorbasedlg.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;

class CPixortaProcCropDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcCropDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;
    // While "Crop images" is checked.
    bool IsTaskEnabled() override;

protected:
    void AfterUserInput() override;

private:
    // Enables the controls of the chosen way and rewrites the scenario line.
    void UpdateScenario();
    // The ratio the list shows in the two edits (the custom one keeps what they hold).
    void TakeRatioFromList();

    QCheckBox *m_master = nullptr;
    QRadioButton *m_aspectMode = nullptr;
    QComboBox *m_ratio = nullptr;
    CPixortaSpinEdit *m_ratioWidth = nullptr;
    CPixortaSpinEdit *m_ratioHeight = nullptr;
    QCheckBox *m_matchOrientation = nullptr;
    QComboBox *m_anchor = nullptr;
    QRadioButton *m_rectangleMode = nullptr;
    CPixortaSpinEdit *m_x = nullptr;
    CPixortaSpinEdit *m_y = nullptr;
    CPixortaSpinEdit *m_width = nullptr;
    CPixortaSpinEdit *m_height = nullptr;
    QRadioButton *m_marginsMode = nullptr;
    CPixortaSpinEdit *m_left = nullptr;
    CPixortaSpinEdit *m_top = nullptr;
    CPixortaSpinEdit *m_right = nullptr;
    CPixortaSpinEdit *m_bottom = nullptr;
    QLabel *m_scenario = nullptr;
    // "Custom" was chosen, or the ratio shown is none the list offers.
    bool m_customRatio = false;
};
