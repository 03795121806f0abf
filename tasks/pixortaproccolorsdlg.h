#pragma once
// The Change-colors panel: light, contrast, red, green and blue, each a slider with a linked
// number edit and its own "Reset", plus "Grey scale" and "Reset all".

#include "pixortaprocessorbasedlg.h"

#include <array>

class QCheckBox;
class QPushButton;
class QSlider;
class CPixortaSlideEdit;

class CPixortaProcColorsDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcColorsDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;

private:
    struct Row {
        QSlider *slider = nullptr;
        CPixortaSlideEdit *edit = nullptr;
        QPushButton *reset = nullptr;
    };
    // Light, contrast, red, green, blue.
    std::array<Row, 5> m_rows;
    QCheckBox *m_grayScale = nullptr;
    QPushButton *m_resetAll = nullptr;
};
