#include "frmostrel.h"

TfrmOstrel* frmOstrel = nullptr;

TfrmOstrel::TfrmOstrel(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Ostrel (device manual: see the README)"));
    resize(434, 163);
}
