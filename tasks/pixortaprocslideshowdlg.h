#pragma once
// The Create-slideshow panel: whether to make a movie of the batch's results, how long each
// slide stays, which transition effects bring slides in and take them away, and the movie's
// size and quality.

#include "pixortaprocessorbasedlg.h"

class QCheckBox;
class QComboBox;
class QListWidget;

class CPixortaProcSlideShowDlg : public CPixortaProcessorBaseDlg {
    Q_OBJECT
public:
    explicit CPixortaProcSlideShowDlg(QWidget *parent = nullptr);

    std::unique_ptr<CPixortaTask> CreateTask() override;
    void SetFromTask(const CPixortaTask &record, bool enabled = true) override;

    // The effect names of the two lists, in their order.
    static const QStringList &AppearEffectNames();
    static const QStringList &DisappearEffectNames();

private:
    QCheckBox *m_create = nullptr;
    CPixortaSpinEdit *m_pause = nullptr;
    QListWidget *m_appear = nullptr;
    QListWidget *m_disappear = nullptr;
    CPixortaSpinEdit *m_width = nullptr;
    CPixortaSpinEdit *m_height = nullptr;
    QComboBox *m_quality = nullptr;
    // The voice track of the record shown (an opened job): the panel has no control for it,
    // but the job keeps it.
    QString m_voiceFile;
};
