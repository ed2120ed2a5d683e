#include "ui/app.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QScopeGuard>
#include <exception>

#include "ui/about.h"
#include "ui/frmostrel.h"
#include "ui/main.h"
#include "ui/uidispatch_qt.h"

std::function<void(const QString& title, const QString& text)> ErrorBoxHook;

QString ErrorBoxTitle()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    name = name.section(QLatin1Char('.'), 0, 0);
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowErrorBox(const QString& message)
{
    const QString title = ErrorBoxTitle(), text = ErrorBoxText(message);
    if (ErrorBoxHook) {
        ErrorBoxHook(title, text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), title, text, QMessageBox::Ok);
}

TGrafonelApplication::TGrafonelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TGrafonelApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowErrorBox(QString());
    }
    return false;
}

int RunGrafonel(int argc, char** argv)
{
    TGrafonelApplication app(argc, argv);
    TQtUiDispatcher dispatcher;
    SetUiDispatcher(&dispatcher);
    const auto resetDispatcher = qScopeGuard([] { SetUiDispatcher(nullptr); });
    try {
        frmMain = new TfrmMain;
        frmOstrel = new TfrmOstrel(frmMain, *frmMain->Sheet);
        frmAbout = new TfrmAbout(frmMain);
        frmMain->show();
        app.exec();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowErrorBox(QString());
    }
    delete frmAbout;
    frmAbout = nullptr;
    delete frmOstrel;
    frmOstrel = nullptr;
    delete frmMain;
    frmMain = nullptr;
    return 0;
}
