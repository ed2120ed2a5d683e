// Opening from outside the Open dialog: the command line and files dropped on the window.
#include <gtest/gtest.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWindow>

#include "formfixture.h"
#include "runcommand.h"
#include "sheettext.h"
#include "testfiles.h"

namespace {

using TAction = TCommandLine::TAction;

struct TDropResult {
    bool Entered = false;  // the drag was offered as droppable
    bool Dropped = false;  // the drop was taken
};

// Drags the URLs over the view and releases them, as a file manager does: through the
// window, so Qt picks the widget that takes drops.
TDropResult DropOnView(const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QWindow* window = frmMain->windowHandle();
    const QPointF at = frmMain->imgView->mapTo(frmMain, frmMain->imgView->rect().center());
    TDropResult r;
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    r.Entered = enter.isAccepted();
    if (r.Entered) {
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        r.Dropped = drop.isAccepted();
    } else {
        QDragLeaveEvent leave;
        QApplication::sendEvent(window, &leave);
    }
    QApplication::processEvents();  // the load runs once the drop has returned
    return r;
}

QUrl FileUrl(const std::string& path)
{
    return QUrl::fromLocalFile(QString::fromStdString(path));
}

TCommandLine Parse(const QStringList& args)
{
    return ParseCommandLine(args);
}

// The program itself, with no display at all: help, version and refusals must not need one.
TRunResult RunGrafonelBinary(const std::string& args)
{
    return RunCommand("env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY " + Quote(GRAFONEL_PATH) + " " + args +
                      " 2>&1");
}

}  // namespace

TEST(CommandLine, NoArgumentOrOneFileRuns)
{
    EXPECT_EQ(Parse({}).Action, TAction::Run);
    EXPECT_TRUE(Parse({}).File.isEmpty());
    const TCommandLine one = Parse({"drawings/a.plt"});
    EXPECT_EQ(one.Action, TAction::Run);
    EXPECT_EQ(one.File, "drawings/a.plt");
    // After "--" a name may start with '-'; a lone "-" is a name, not an option.
    EXPECT_EQ(Parse({"--", "-odd.plt"}).File, "-odd.plt");
    EXPECT_EQ(Parse({"--", "--help"}).File, "--help");
    EXPECT_EQ(Parse({"-"}).File, "-");
}

TEST(CommandLine, HelpAndVersionStandAlone)
{
    EXPECT_EQ(Parse({"--help"}).Action, TAction::Help);
    EXPECT_EQ(Parse({"-h"}).Action, TAction::Help);
    EXPECT_EQ(Parse({"--version"}).Action, TAction::Version);
    // Combined with anything they are refused rather than half obeyed.
    for (const QStringList& args :
         {QStringList{"--help", "a.plt"}, QStringList{"a.plt", "--version"}, QStringList{"--version", "--help"}}) {
        const TCommandLine line = Parse(args);
        EXPECT_EQ(line.Action, TAction::Usage) << args.join(' ').toStdString();
        EXPECT_FALSE(line.Error.isEmpty());
    }
}

TEST(CommandLine, AnythingElseIsAUsageErrorWithoutAFile)
{
    for (const QStringList& args :
         {QStringList{"--bogus"}, QStringList{"-x"}, QStringList{"a.plt", "b.plt"}, QStringList{""},
          QStringList{"a.plt", "--zoom"}, QStringList{"-platform", "offscreen"}}) {
        const TCommandLine line = Parse(args);
        EXPECT_EQ(line.Action, TAction::Usage) << args.join(' ').toStdString();
        EXPECT_TRUE(line.File.isEmpty()) << args.join(' ').toStdString();
        EXPECT_FALSE(line.Error.isEmpty());
    }
    EXPECT_NE(Parse({"--bogus"}).Error.indexOf("--bogus"), -1);
}

TEST(CommandLine, ProgramPrintsHelpAndVersionWithoutADisplay)
{
    const TRunResult help = RunGrafonelBinary("--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("Usage: grafonel [FILE]\n", 0), 0u) << help.Out;
    EXPECT_EQ(help.Out, UsageText().toStdString());
    const TRunResult version = RunGrafonelBinary("--version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, "grafonel " GRAFONEL_VERSION "\n");
}

TEST(CommandLine, ProgramRefusesABadLineWithUsageAndStatus2)
{
    for (const std::string args : {"--bogus", "a.plt b.plt", "--help extra.plt", "''"}) {
        const TRunResult r = RunGrafonelBinary(args);
        EXPECT_EQ(r.Status, 2) << args;
        EXPECT_EQ(r.Out.rfind("grafonel: ", 0), 0u) << r.Out;
        EXPECT_NE(r.Out.find(UsageText().toStdString()), std::string::npos) << r.Out;
    }
    // The usage goes to the error stream: nothing on standard output.
    const TRunResult quiet =
        RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + Quote(GRAFONEL_PATH) + " --bogus 2>/dev/null");
    EXPECT_EQ(quiet.Status, 2);
    EXPECT_EQ(quiet.Out, "");
}

TEST_F(FormTest, StartFileOpensAsOpenWouldAndIsOfferedNextTime)
{
    testfiles::TempDir dir;
    dir.Write("start.plt", "PA10,20;PD30,40;");
    // A relative name, as a shell passes it, is taken from the current folder.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.Path)));
    frmMain->OpenFile(QStringLiteral("start.plt"));
    QDir::setCurrent(before);
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 10 20|PD 30 40");
    EXPECT_EQ(Panel(0), "Objects: 2");
    EXPECT_EQ(frmMain->OpenFileName.toStdString(), dir.File("start.plt"));
    for (QAction* a : frmMain->Actions())
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    frmMain->actOpen->trigger();
    EXPECT_EQ(frmMain->OpenDialog->selectedFiles().value(0).toStdString(), dir.File("start.plt"));
    frmMain->OpenDialog->reject();
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, UnreadableStartFileShowsTheErrorBoxAndAnEmptySheet)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;PD2,2;"));
    frmMain->OpenFile(QString::fromStdString(dir.File("missing.plt")));
    EXPECT_EQ(Panel(0), "Objects: 0");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text.toStdString(),
              "Cannot open \"" + dir.File("missing.plt") + "\": No such file or directory.");
}

TEST_F(FormTest, DroppedFileOpens)
{
    testfiles::TempDir dir;
    const std::string a = dir.Write("a.plt", "PA1,1;PD2,2;PD3,3;");
    const TDropResult r = DropOnView({FileUrl(a)});
    EXPECT_TRUE(r.Entered);
    EXPECT_TRUE(r.Dropped);
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 1 1|PD 2 2|PD 3 3");
    EXPECT_EQ(Panel(0), "Objects: 3");
    EXPECT_EQ(frmMain->OpenFileName.toStdString(), a);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, DroppedAndStartSvgDrawingsOpenAsOpenDoes)
{
    testfiles::TempDir dir;
    const std::string svg =
        dir.Write("d.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10mm\" height=\"10mm\">"
                           "<path stroke=\"blue\" fill=\"none\" d=\"M0 0 L37.795 37.795\"/></svg>");
    EXPECT_TRUE(DropOnView({FileUrl(svg)}).Dropped);
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA|SP 1|PU 0 80|PD 80 0");
    frmMain->OpenFile(QString::fromStdString(dir.Write("a.plt", "PA1,1;")));
    frmMain->OpenFile(QString::fromStdString(svg));
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA|SP 1|PU 0 80|PD 80 0");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, OfSeveralDroppedUrlsTheFirstLocalFileOpens)
{
    testfiles::TempDir dir;
    const std::string a = dir.Write("a.plt", "PA5,5;");
    const std::string b = dir.Write("b.plt", "PA7,7;PD8,8;");
    EXPECT_TRUE(DropOnView({FileUrl(a), FileUrl(b)}).Dropped);
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 5 5");
    EXPECT_TRUE(DropOnView({QUrl("https://example.org/c.plt"), FileUrl(b)}).Dropped);
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 7 7|PD 8 8");
    EXPECT_EQ(frmMain->OpenFileName.toStdString(), b);
}

TEST_F(FormTest, DropWithoutALocalFileIsRefusedAndChangesNothing)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;"));
    for (const QList<QUrl>& urls : {QList<QUrl>{QUrl("https://example.org/a.plt")}, QList<QUrl>{}}) {
        const TDropResult r = DropOnView(urls);
        EXPECT_FALSE(r.Entered);
        EXPECT_FALSE(r.Dropped);
    }
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 1 1");
    EXPECT_EQ(frmMain->OpenFileName.toStdString(), dir.File("a.plt"));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(FormTest, DroppedUnreadableFileShowsTheErrorBoxAsOpenDoes)
{
    testfiles::TempDir dir;
    EXPECT_TRUE(DropOnView({FileUrl(dir.File("gone.plt"))}).Dropped);
    EXPECT_EQ(Panel(0), "Objects: 0");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].Text.indexOf("No such file or directory"), -1);
}

TEST_F(FormTest, NoDropWhileALoadRunsOrADialogHoldsTheWindow)
{
    testfiles::TempDir dir;
    Open(dir.Write("a.plt", "PA1,1;"));
    const QUrl b = FileUrl(dir.Write("b.plt", "PA2,2;"));
    // A load in progress processes events: a drop then must not clear the sheet under it.
    frmMain->SetBusy(true);
    EXPECT_FALSE(DropOnView({b}).Entered);
    frmMain->SetBusy(false);
    // The plot dialog holds the sheet while it plots.
    frmOstrel->open();
    QApplication::processEvents();
    EXPECT_FALSE(DropOnView({b}).Entered);
    frmOstrel->reject();
    // The open dialog is up: its answer decides what opens.
    frmMain->actOpen->trigger();
    EXPECT_FALSE(DropOnView({b}).Entered);
    frmMain->OpenDialog->reject();
    QApplication::processEvents();
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 1 1");
    // Once nothing holds it, the same drop opens.
    EXPECT_TRUE(DropOnView({b}).Dropped);
    EXPECT_EQ(SheetText(*frmMain->Sheet), "PA 2 2");
}
