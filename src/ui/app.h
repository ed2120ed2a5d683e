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

// Creates the three windows, runs the event loop, destroys them in reverse order.
int RunGrafonel(int argc, char** argv);
