#pragma once
// The one place that knows which panel class serves which task kind, so the main window can
// build its task selector without naming every panel.

#include "tasks/pixortaprocessorbasedlg.h"

#include <memory>

class QWidget;

// A fresh panel of that kind with its default settings, or none for a kind that has no panel.
std::unique_ptr<CPixortaProcessorBaseDlg> CreateTaskPanel(qint32 kind, QWidget *parent);

// The task selector's icon for a kind: 0 Resize, 1 Add background, 2 Add text, 3 Change colors,
// 4 Create slideshow (the order of the selector's first icons), 5 Crop, 6 Sharpen, 7 Watermark;
// 0 for anything else.
int TaskIconIndex(qint32 kind);
