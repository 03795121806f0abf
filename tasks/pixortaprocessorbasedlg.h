#pragma once
// The base of every task panel: a borderless child of the main window that keeps its task's
// settings only in its controls and turns them into a task record on request.
//
// Any key release (Alt combinations included) or left-button release anywhere in the panel
// sets the modified flag, and once the control has handled the event (when control returns to
// the event loop) AfterUserInput() runs, so a panel can recompute its enabling from the
// controls' new state without per-control notifications.

#include "pixortatask.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLayout;
#include <memory>

class QAbstractButton;
class CPixortaSpinEdit;
class CEStaticColor;
class QCheckBox;
class QColor;
struct SettingDecl;

class CPixortaProcessorBaseDlg : public QWidget {
    Q_OBJECT
public:
    explicit CPixortaProcessorBaseDlg(QWidget *parent = nullptr);
    ~CPixortaProcessorBaseDlg() override;

    // A new record from the controls' current state, owned by the caller; the base makes none.
    virtual std::unique_ptr<CPixortaTask> CreateTask();
    // The kind of the record CreateTask makes; TaskNone when it makes none.
    qint32 GetTaskKind();
    bool IsModified() const { return m_modified; }
    // Whether the task takes part in a batch.
    virtual bool IsTaskEnabled();
    // The controls take the settings of a record of the panel's kind (a saved job being
    // opened), so that CreateTask then makes an equal record; enabled switches a task that can
    // be switched off. A record of another kind changes nothing.
    virtual void SetFromTask(const CPixortaTask &record, bool enabled = true);

    // Every control of the panel follows master's check state; master itself stays usable.
    void EnableFromMasterCheckBox(QAbstractButton *master);

    // A digits-only edit with spin buttons over 0..2147483647, showing text (possibly empty).
    static CPixortaSpinEdit *CreateSpinEdit(QWidget *parent, const QString &objectName,
                                            const QString &text = QString());
    // A digits-only edit with spin buttons over the setting's range, empty until the panel
    // shows a record.
    static CPixortaSpinEdit *CreateSpinEdit(QWidget *parent, const QString &objectName,
                                            const SettingDecl &setting);
    // A colour swatch with its caption (also its accessible name), showing colour.
    static CEStaticColor *CreateSwatch(QWidget *parent, const QString &caption,
                                       const char *objectName, const QColor &colour);
    // The check box that stands beside a swatch and switches it on; the swatch shows the
    // caption, so the box only speaks it to a screen reader.
    static QCheckBox *CreateSwatchSwitch(QWidget *parent, const QString &spoken,
                                         const char *objectName, bool checked);

protected:
    // The line under a panel's settings that says what the task will do ("Scenario:").
    QLabel *CreateScenarioLine(const QString &caption);
    // The frame of a task switched on and off by its own switch: the switch, its settings,
    // the scenario line, and the room below.
    void LayOutSwitchedPanel(QCheckBox *master, QLayout *settings, QLabel *scenario);
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Runs after a key or left-button release in the panel has been handled.
    virtual void AfterUserInput() {}

private:
    void Watch(QObject *object);
    void RunAfterUserInput();

    bool m_modified = false;
    bool m_afterInputPending = false;
};
