#include "taskpanels.h"

#include "tasks/pixortaprocsizedlg.h"

std::unique_ptr<CPixortaProcessorBaseDlg> CreateTaskPanel(qint32 kind, QWidget *parent)
{
    switch (kind) {
    case TaskResize:
        return std::make_unique<CPixortaProcSizeDlg>(parent);
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
