#include "pixortaaboutdlg.h"

#include "pixortacontrols.h"
#include "weblinks.h"
#include "tasks/estaticcolor.h"
#include "tasks/taskpanels.h"
#include "ui/uiseams.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#ifndef PIXORTA_VERSION
#define PIXORTA_VERSION "1.44"
#endif

namespace {

QPushButton *Button(const QString &caption, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

CPixortaAboutDlg::CPixortaAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaAboutDlg"));
    setWindowTitle(QStringLiteral("About Pixorta"));

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(ProgramIcon().pixmap(48, 48));
    auto *text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setAccessibleName(QStringLiteral("About"));
    text->setReadOnly(true);
    text->setPlainText(QStringLiteral("Pixorta version " PIXORTA_VERSION "\n"
                                      "Batch image processor: resize, recolour, frame, caption "
                                      "and turn into a slideshow many pictures at once.\n") +
                       kHomePageAddress);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setFixedHeight(text->fontMetrics().lineSpacing() * 7 + 12);

    auto *ok = Button(QStringLiteral("OK"), "okButton", this);
    ok->setDefault(true);
    auto *website = Button(QStringLiteral("&Visit website"), "websiteButton", this);
    auto *contact = Button(QStringLiteral("&Contact"), "contactButton", this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(website, &QPushButton::clicked, this,
            [this] { OpenAddress(QUrl(kHomePageAddress), this); });
    connect(contact, &QPushButton::clicked, this,
            [this] { OpenAddress(QUrl(kContactPageAddress), this); });

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(website);
    buttons->addWidget(contact);
    buttons->addStretch(1);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(text, 1);
    layout->addLayout(buttons);
    resize(520, sizeHint().height());
}

CPixortaDeveloperTestsDlg::CPixortaDeveloperTestsDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaDeveloperTestsDlg"));
    setWindowTitle(QStringLiteral("Developer Tests"));

    auto *test1 = Button(QStringLiteral("test 1"), "test1Button", this);
    auto *swatch = new CEStaticColor(QStringLiteral("Colour"), this);
    swatch->setObjectName(QStringLiteral("swatch"));
    swatch->setAccessibleName(QStringLiteral("Colour"));
    auto *ok = Button(QStringLiteral("OK"), "okButton", this);
    ok->setDefault(true);
    auto *cancel = Button(QStringLiteral("Cancel"), "cancelButton", this);
    connect(test1, &QPushButton::clicked, this, &CPixortaDeveloperTestsDlg::RunTest1);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *tests = new QVBoxLayout;
    tests->addWidget(test1);
    tests->addWidget(swatch);
    tests->addStretch(1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(tests, 1);
    layout->addLayout(buttons);
}

void CPixortaDeveloperTestsDlg::RunTest1()
{
    QDialog holder(this);
    holder.setObjectName(QStringLiteral("resizePanelTest"));
    holder.setWindowTitle(QStringLiteral("Resize"));
    auto *layout = new QVBoxLayout(&holder);
    auto panel = CreateTaskPanel(TaskResize, &holder);
    if (panel)
        layout->addWidget(panel.get());
    RunModalDialog(holder);
}
