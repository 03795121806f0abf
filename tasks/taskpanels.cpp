#include "taskpanels.h"

#include "tasks/pixortaprocbackgrounddlg.h"
#include "tasks/pixortaproccolorsdlg.h"
#include "tasks/pixortaproccropdlg.h"
#include "tasks/pixortaprocsharpendlg.h"
#include "tasks/pixortaprocsizedlg.h"
#include "tasks/pixortaproctextdlg.h"
#include "tasks/pixortaprocslideshowdlg.h"
#include "tasks/pixortaprocwatermarkdlg.h"

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
    case TaskCrop:
        return std::make_unique<CPixortaProcCropDlg>(parent);
    case TaskSharpen:
        return std::make_unique<CPixortaProcSharpenDlg>(parent);
    case TaskWatermark:
        return std::make_unique<CPixortaProcWatermarkDlg>(parent);
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
    case TaskCrop:
        return 5;
    case TaskSharpen:
        return 6;
    case TaskWatermark:
        return 7;
    default:
        return 0;
    }
}
