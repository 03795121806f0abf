#pragma once
// The Watermark panel: switched on and off as a whole, the picture file to lay over every image,
// where it goes, its size and distance from the edges in percent of the image width, and its
// opacity.

#include "pixortaprocessorbasedlg.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CPixortaProcWatermarkDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcWatermarkDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;
    // While "Add watermark" is checked.
    bool IsTaskEnabled() override;
    // The file chooser behind "...".
    void ChooseFile();

protected:
    void AfterUserInput() override;

private:
    void UpdateScenario();

    QCheckBox *m_master = nullptr;
    QLineEdit *m_file = nullptr;
    QPushButton *m_browse = nullptr;
    QComboBox *m_position = nullptr;
    CPixortaSpinEdit *m_size = nullptr;
    CPixortaSpinEdit *m_opacity = nullptr;
    CPixortaSpinEdit *m_margin = nullptr;
    QLabel *m_scenario = nullptr;
};
