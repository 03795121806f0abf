#include "pixortaplandlg.h"

#include "ui/uiseams.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The picture's format and size, or why it could not be read.
QString About(const PlanRow &row)
{
    if (row.kind == PlanRow::Kind::Unreadable || row.kind == PlanRow::Kind::Fails)
        return row.detail;
    return row.format + QStringLiteral(" %1 x %2").arg(row.width).arg(row.height);
}

} // namespace

CPixortaPlanDlg::CPixortaPlanDlg(const QList<PlanRow> &rows, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaPlanDlg"));
    setWindowTitle(QStringLiteral("Preview plan"));

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("planList"));
    m_list->setAccessibleName(QStringLiteral("Plan"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setHeaderLabels({QStringLiteral("What happens"), QStringLiteral("Image"),
                             QStringLiteral("Result"), QStringLiteral("Picture")});
    for (const PlanRow &row : rows) {
        QString what = PlanKindText(row.kind);
        if (row.kind == PlanRow::Kind::CollidesWith)
            what += u' ' + row.detail;
        auto *item = new QTreeWidgetItem(m_list, {what, row.source, row.target, About(row)});
        item->setToolTip(0, PlanRowText(row));
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    m_summary = new QLabel(PlanSummary(rows), this);
    m_summary->setObjectName(QStringLiteral("planSummary"));
    m_summary->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("planButtons"));
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setAccessibleName(QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_summary);
    layout->addWidget(buttons);
    resize(760, 420);
}

void CPixortaPlanDlg::ShowPlan(const Job &job, const QStringList &imagePaths, QWidget *owner)
{
    QList<PlanRow> rows;
    {
        WaitCursor wait;
        rows = PlanBatch(job, imagePaths);
    }
    CPixortaPlanDlg dialog(rows, owner);
    RunModalDialog(dialog);
}
