#pragma once
// The Add-background panel: the only task that can be switched off as a whole. Colours of the
// background, the canvas frame and the picture frame, and the four margins in percent of the
// image width.

#include "pixortaprocessorbasedlg.h"

class QCheckBox;
class CEStaticColor;

class CPixortaProcBackgroundDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcBackgroundDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;
    // While "Add background" is checked.
    bool IsTaskEnabled() override;

protected:
    void AfterUserInput() override;

private:
    // Every control follows "Add background"; a frame swatch also follows its own check box.
    void UpdateEnabling();

    QCheckBox *m_master = nullptr;
    CEStaticColor *m_background = nullptr;
    QCheckBox *m_frameSwitch = nullptr;
    CEStaticColor *m_frame = nullptr;
    QCheckBox *m_imageFrameSwitch = nullptr;
    CEStaticColor *m_imageFrame = nullptr;
    CPixortaSpinEdit *m_left = nullptr;
    CPixortaSpinEdit *m_top = nullptr;
    CPixortaSpinEdit *m_right = nullptr;
    CPixortaSpinEdit *m_bottom = nullptr;
};
