#include "pixortaplandlg.h"

#include "core/paths.h"
#include "ui/uiseams.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The picture's format and size, or why it could not be read.
QString About(const PlanRow &row)
{
    if (row.kind == PlanRow::Kind::Unreadable || row.kind == PlanRow::Kind::Fails)
        return row.detail;
    return row.format + QStringLiteral(" %1 x %2").arg(row.width).arg(row.height);
}

} // namespace

CPixortaPlanDlg::CPixortaPlanDlg(const QList<PlanRow> &rows, const QStringList &notes,
                                 QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaPlanDlg"));
    setWindowTitle(QStringLiteral("Preview plan"));

    m_notes = new QLabel(notes.join(u'\n'), this);
    m_notes->setObjectName(QStringLiteral("planNotes"));
    m_notes->setWordWrap(true);
    m_notes->setVisible(!notes.isEmpty());

    const bool variants = std::any_of(rows.begin(), rows.end(),
                                      [](const PlanRow &row) { return !row.variant.isEmpty(); });
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("planList"));
    m_list->setAccessibleName(QStringLiteral("Plan"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    QStringList headings = {QStringLiteral("What happens"), QStringLiteral("Image"),
                            QStringLiteral("Result"), QStringLiteral("Picture")};
    // Each image has a row per variant: which one it is stands beside the image.
    if (variants)
        headings.insert(2, QStringLiteral("Variant"));
    m_list->setHeaderLabels(headings);
    for (const PlanRow &row : rows) {
        QString what = PlanKindText(row.kind);
        if (row.kind == PlanRow::Kind::CollidesWith) {
            what += u' ' + row.detail;
            // The batch then writes it under a free name, not over the other image's result.
            if (!row.renamedTo.isEmpty())
                what += QStringLiteral(", renamed to ") + FileNameOf(row.renamedTo);
        }
        QStringList cells = {what, row.source, row.target, About(row)};
        if (variants)
            cells.insert(2, row.variant);
        auto *item = new QTreeWidgetItem(m_list, cells);
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
    layout->addWidget(m_notes);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_summary);
    layout->addWidget(buttons);
    resize(760, 420);
}

int CPixortaPlanDlg::Column(const QString &heading) const
{
    const QTreeWidgetItem *header = m_list->headerItem();
    for (int column = 0; column < header->columnCount(); ++column)
        if (header->text(column) == heading)
            return column;
    return -1;
}

QStringList CPixortaPlanDlg::NotesOf(const Job &job)
{
    QStringList notes;
    if (!job.variants.isEmpty()) {
        QStringList labels;
        for (const JobVariant &variant : job.variants)
            labels << variant.label;
        notes << QStringLiteral("The job's variants are used: every image gets a result for each "
                                "of ") +
                     labels.join(QStringLiteral(", ")) + u'.';
    }
    return notes + PlanNotes(job);
}

void CPixortaPlanDlg::ShowPlan(const Job &job, const QStringList &imagePaths, QWidget *owner)
{
    QList<PlanRow> rows;
    {
        WaitCursor wait;
        rows = PlanBatch(job, imagePaths);
    }
    CPixortaPlanDlg dialog(rows, NotesOf(job), owner);
    RunModalDialog(dialog);
}
