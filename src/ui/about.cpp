#include "ui/about.h"

#include <QKeyEvent>

#include "ui/app.h"
#include "ui/fonts.h"
#include "ui/icons.h"

TfrmAbout* frmAbout = nullptr;

namespace {
QLabel* Text(QWidget* parent, const QString& text, int x, int y)
{
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}
}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(tr("About"));
    setFont(DesignFont());
    setFixedSize(241, 129);
    btnOk = new QPushButton(tr("&Ok"), this);
    btnOk->setGeometry(88, 96, 75, 25);
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &TfrmAbout::btnOkClick);
    Label1 = Text(this, tr("Grafonel for print and edit HPGL sheet"), 16, 8);
    Image1 = new QLabel(this);
    Image1->setGeometry(16, 32, 33, 33);
    Image1->setPixmap(AppIconPixmap(devicePixelRatioF()));
    Label2 = Text(this, QStringLiteral("v ") + VersionNumber(), 96, 32);
    Label4 = Text(this, tr("supports HPGL commands:"), 64, 56);
    Label3 = Text(this, QStringLiteral("PA, PR, PU, PD, CI, ER, SP, AA"), 48, 72);
    btnOk->setFocus();
}

void TfrmAbout::btnOkClick()
{
    accept();
}

void TfrmAbout::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
