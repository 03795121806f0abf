#include "taskpanels.h"

#include "tasks/pixortaprocbackgrounddlg.h"
#include "tasks/pixortaproccolorsdlg.h"
#include "tasks/pixortaprocsizedlg.h"
#include "tasks/pixortaproctextdlg.h"
#include "tasks/pixortaprocslideshowdlg.h"

std::unique_ptr<CPixortaProcessorBaseDlg> CreateTaskPanel(qint32 kind, QWidget *parent)
{
    switch (kind) {
    case TaskResize:
        return std::make_unique<CPixortaProcSizeDlg>(parent);
    case TaskChangeColors:
        return std::make_unique<CPixortaProcColorsDlg>(parent);
    case TaskAddBackground:
        return std::make_unique<CPixortaProcBackgroundDlg>(parent);
    case TaskAddText:
        return std::make_unique<CPixortaProcTextDlg>(parent);
    case TaskCreateSlideshow:
        return std::make_unique<CPixortaProcSlideShowDlg>(parent);
    default:
        return nullptr;
    }
}

int TaskIconIndex(qint32 kind)
{
    switch (kind) {
    case TaskAddBackground:
        return 1;
    case TaskAddText:
        return 2;
    case TaskChangeColors:
        return 3;
    case TaskCreateSlideshow:
        return 4;
    default:
        return 0;
    }
}
