#include "ui/app.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTimer>
#include <chrono>
#include <cstdio>
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

TCommandLine ParseCommandLine(const QStringList& args)
{
    TCommandLine line;
    auto refuse = [&](const QString& why) {
        line.Action = TCommandLine::TAction::Usage;
        line.Error = why;
        line.File.clear();
        return line;
    };
    bool optionsEnd = false;
    for (const QString& a : args) {
        if (!optionsEnd && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
            if (args.size() != 1)
                return refuse(QStringLiteral("%1 takes no other argument").arg(a));
            line.Action = TCommandLine::TAction::Help;
        } else if (!optionsEnd && a == QLatin1String("--version")) {
            if (args.size() != 1)
                return refuse(QStringLiteral("--version takes no other argument"));
            line.Action = TCommandLine::TAction::Version;
        } else if (!optionsEnd && a == QLatin1String("--")) {
            optionsEnd = true;
        } else if (!optionsEnd && a.startsWith(QLatin1Char('-')) && a != QLatin1String("-")) {
            return refuse(QStringLiteral("unknown option '%1'").arg(a));
        } else if (a.isEmpty()) {
            return refuse(QStringLiteral("the file name is empty"));
        } else if (!line.File.isEmpty()) {
            return refuse(QStringLiteral("one file at a time"));
        } else {
            line.File = a;
        }
    }
    return line;
}

QString UsageText()
{
    return QStringLiteral(
        "Usage: grafonel [FILE]\n"
        "Shows an HPGL plot file on the plotter's paper frame, to transform, save, print or plot.\n"
        "\n"
        "  FILE        opened at start as File > Open would (use -- FILE for a name starting with '-')\n"
        "  --help      print this text and exit\n"
        "  --version   print the version and exit\n"
        "\n"
        "The display and style come from Qt's environment variables (QT_QPA_PLATFORM, QT_STYLE_OVERRIDE).\n"
        "grafonel-cli does the same work without a window.\n");
}

QString VersionNumber()
{
    return QStringLiteral(GRAFONEL_VERSION);
}

QString VersionText()
{
    return QStringLiteral("grafonel ") + VersionNumber() + QLatin1Char('\n');
}

int RunGrafonel(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QFile::decodeName(argv[i]);
    const TCommandLine line = ParseCommandLine(args);
    switch (line.Action) {
    case TCommandLine::TAction::Help: std::fputs(UsageText().toLocal8Bit().constData(), stdout); return 0;
    case TCommandLine::TAction::Version: std::fputs(VersionText().toLocal8Bit().constData(), stdout); return 0;
    case TCommandLine::TAction::Usage:
        std::fprintf(stderr, "grafonel: %s\n%s", line.Error.toLocal8Bit().constData(),
                     UsageText().toLocal8Bit().constData());
        return 2;
    case TCommandLine::TAction::Run: break;
    }

    // Qt sees only the program's name: every argument has been read above.
    int qtArgc = 1;
    TGrafonelApplication app(qtArgc, argv);
    QGuiApplication::setApplicationVersion(VersionNumber());
    // Lets the desktop match the window to its entry (and so to its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral(GRAFONEL_APP_ID));
    TQtUiDispatcher dispatcher;
    SetUiDispatcher(&dispatcher);
    const auto resetDispatcher = qScopeGuard([] { SetUiDispatcher(nullptr); });
    try {
        frmMain = new TfrmMain;
        frmOstrel = new TfrmOstrel(frmMain, *frmMain->Sheet);
        frmAbout = new TfrmAbout(frmMain);
        frmMain->show();
        if (!line.File.isEmpty())
            QTimer::singleShot(0, frmMain, [file = line.File] { frmMain->OpenFile(file); });
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

std::function<bool(double)> WindowProgress(std::function<void(int percent)> show, std::function<bool()> keepGoing,
                                           QEventLoop::ProcessEventsFlags flags)
{
    return [show = std::move(show), keepGoing = std::move(keepGoing), flags,
            last = std::chrono::steady_clock::now()](double done) mutable {
        const auto now = std::chrono::steady_clock::now();
        if (now - last >= std::chrono::milliseconds(50)) {
            last = now;
            show(static_cast<int>(done * 100));
            QCoreApplication::processEvents(flags);
        }
        return !keepGoing || keepGoing();
    };
}
