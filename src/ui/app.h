#pragma once
// The application object and its error box.

#include <QApplication>
#include <functional>

// Catches every exception that a handler lets escape, shows it in the error box, and lets
// the program carry on: exceptions must never unwind through Qt's event loop.
class TGrafonelApplication : public QApplication {
public:
    TGrafonelApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The executable's file name up to its first '.', every letter after the first lower case.
QString ErrorBoxTitle();
// The message, with '.' appended when it is not empty and ends in a character above '.'.
QString ErrorBoxText(const QString& message);
// The modal error box: error icon, one OK button.
void ShowErrorBox(const QString& message);
// Replaces the box (tests record instead of blocking on a modal box); empty restores it.
extern std::function<void(const QString& title, const QString& text)> ErrorBoxHook;

// A progress hook for long work on the window's thread: at most every 50 ms it shows the
// share done, as a percentage, and processes events; it answers keepGoing() (true without).
std::function<bool(double)> WindowProgress(std::function<void(int percent)> show, std::function<bool()> keepGoing = {},
                                           QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

// What the command line asks for: grafonel [--help | --version | [--] FILE].
struct TCommandLine {
    enum class TAction { Run, Help, Version, Usage };
    TAction Action = TAction::Run;
    QString File;   // empty: start with an empty sheet
    QString Error;  // why the line was refused (Usage only)
};
// The arguments after the program's name. Qt's own options are not taken: the desktop passes
// only a file, and Qt reads the same settings from its environment variables.
TCommandLine ParseCommandLine(const QStringList& args);
QString UsageText();
// The program's version ("0.1.0"), the project's own: the About box and --version show it.
QString VersionNumber();
// What --version prints: "grafonel " and VersionNumber(), one line.
QString VersionText();

// Reads the command line, then creates the three windows, opens the file given (as Open
// would, once the event loop runs), runs the event loop, destroys the windows in reverse
// order. --help and --version print and return 0, a refused line prints the usage and
// returns 2; neither needs a display.
int RunGrafonel(int argc, char** argv);
