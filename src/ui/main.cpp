#include "ui/main.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScopeGuard>
#include <QPainter>
#include <QPrintDialog>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <chrono>
#include <stdexcept>

#include "import/drawing.h"
#include "import/svgexport.h"
#include "plot/plotorder.h"
#include "plot/preflight.h"
#include "ui/about.h"
#include "ui/app.h"
#include "sheet/canvas.h"
#include "sheet/frame.h"
#include "ui/fonts.h"
#include "ui/frmostrel.h"
#include "ui/icons.h"
#include "ui/qtcanvas.h"

TfrmMain* frmMain = nullptr;

namespace {

constexpr int kPreviewWidth = 81;
constexpr int kPreviewHeight = 113;
constexpr int kPreviewLeft = 8;
constexpr int kPreviewTop = 48;
constexpr int kViewLeft = 95;
constexpr int kViewTop = 32;
// Qt measures the client area without frame, title and menu bar: what is left of the
// design's margins is a gap to the right edge and above the status bar.
constexpr int kRightGap = 8;
constexpr int kBottomGap = 4;

TColor ToTColor(const QColor& c)
{
    return RGBColor(c.red(), c.green(), c.blue());
}

// The wait cursor for as long as it lives, when `on`. Set before the work starts: the
// thread is busy until it ends, so no timer could set it later.
class TWaitCursor {
public:
    explicit TWaitCursor(bool on) : On(on)
    {
        if (On)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~TWaitCursor()
    {
        if (On)
            QApplication::restoreOverrideCursor();
    }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    bool On;
};

// Whether anything on the sheet draws or moves a pen: a file read without error may still
// hold nothing of a drawing (a binary file, a text), and the plain reader steps over all of it.
bool HasDrawing(const THpglSheet& sheet)
{
    for (const THpglObject& o : sheet) {
        if (o.Kind == hkCI || o.Kind == hkAA || o.Kind == hkER)
            return true;
        if (THpglSheet::IsMove(o.Kind) && o.ParamCount >= 2)
            return true;
    }
    return false;
}

// An action's caption as its menu shows it: without the accelerator's '&'.
QString MenuCaption(const QAction* a)
{
    QString text = a->text();
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(QLatin1Char('&'))
        .replace(QChar(1), QLatin1Char('&'));
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent)
{
    ShowTitle();
    setWindowIcon(AppIcon());
    setMinimumSize(267, 330);

    Client = new QWidget(this);
    Client->setAutoFillBackground(true);
    Client->setFont(DesignFont());
    setCentralWidget(Client);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateViews();
    CreateStatusBar();
    CreateDialogs();
    setAcceptDrops(true);  // a file dropped on the window opens (dropEvent)

    // Client area of 331 x 386 (the status bar included, the menu bar not).
    resize(331, 386 + MainMenu1->sizeHint().height());
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
}

void TfrmMain::CreateActions()
{
    actOpen = MakeAction(tr("&Open..."), tr("Open|Opens an existing file"), 6, &TfrmMain::actOpenExecute);
    actOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    actOpenPlain = MakeAction(tr("Open as plain HPGL\u2026"),
                              tr("Open as plain HPGL|Reads PA, PR, PU, PD, CI, ER, SP and AA alone"), -1,
                              &TfrmMain::actOpenPlainExecute);
    actOpenPlain->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    actSave =
        MakeAction(tr("&Save"), tr("Save|Saves the sheet over its plain HPGL file"), -1, &TfrmMain::actSaveExecute);
    actSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    actSaveAs = MakeAction(tr("Save &As..."), tr("Save As|Saves the active file with a new name"), 7,
                           &TfrmMain::actSaveAsExecute);
    actExportSvg = MakeAction(tr("&Export as SVG..."), tr("Export as SVG|Saves the sheet as an SVG drawing"), -1,
                              &TfrmMain::actExportSvgExecute);
    act7475 = MakeAction(tr("1/40 to 1/8"), tr("size modify: from plotter HP7475 to Minigraf format"), -1,
                         &TfrmMain::act7475Execute);
    actZoomIn = MakeAction(tr("Zoom &In"), tr("Zoom In"), 3, &TfrmMain::actZoomInExecute);
    // Ctrl+= too: on most layouts '+' is the shifted '='.
    actZoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    actZoomOut = MakeAction(tr("Zoom &Out"), tr("Zoom Out"), 2, &TfrmMain::actZoomOutExecute);
    actZoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    actZoomAuto = MakeAction(tr("Zoom &Auto"), tr("Zoom Auto"), 9, &TfrmMain::actZoomAutoExecute);
    actRotate = MakeAction(tr("&Rotate"), tr("Sheet Rotate"), 10, &TfrmMain::actRotateExecute);
    actMirror = MakeAction(tr("&Mirror"), tr("Sheet Mirror"), 11, &TfrmMain::actMirrorExecute);
    actOstrel = MakeAction(tr("Ostr&el ..."), tr("Plot via Ostrel interpret"), 5, &TfrmMain::actOstrelExecute);
    actPrint = MakeAction(tr("&Print ..."), tr("Print on windows printer"), 4, &TfrmMain::actPrintExecute);
    actAbout = MakeAction(tr("&About"), QString(), -1, &TfrmMain::actAboutExecute);
    actExit = MakeAction(tr("E&xit"), tr("Exit|Quits the application"), 8, nullptr);
    actExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(actExit, &QAction::triggered, this, &QWidget::close);
    actOptimise = MakeAction(tr("O&ptimise plot order"),
                             tr("Reorders the drawing, pen by pen, so the pen travels less between strokes"), -1,
                             &TfrmMain::actOptimiseExecute);
    actShowTravel =
        MakeAction(tr("Show pen-&up travel"), tr("Draws the moves with the pen up as pale lines"), -1, nullptr);
    actShowTravel->setCheckable(true);
    connect(actShowTravel, &QAction::toggled, this, [this] { DrawView(); });
    actSvgStrokeText = MakeAction(tr("SVG text as single &strokes"),
                                  tr("Lays the text of SVG drawings opened from now on in a single-stroke font, "
                                     "not as the outlines of its glyphs"),
                                  -1, nullptr);
    actSvgStrokeText->setCheckable(true);
    // Fresh: of the sheet's actions only the two Opens.
    for (QAction* a : SheetActions())
        a->setEnabled(a == actOpen || a == actOpenPlain);
    actOptimise->setEnabled(false);
}

void TfrmMain::CreateMenus()
{
    MainMenu1 = menuBar();
    File1 = MainMenu1->addMenu(tr("&File"));
    File1->addActions({actOpen, actOpenPlain, actSave, actSaveAs, actExportSvg, actExit});
    Edit1 = MainMenu1->addMenu(tr("&Edit"));
    Edit1->addActions(EditActions());
    Edit1->addSeparator();
    Edit1->addActions({actOptimise, actShowTravel, actSvgStrokeText});
    Output1 = MainMenu1->addMenu(tr("&Output"));
    Output1->addActions({actOstrel, actPrint});
    Help1 = MainMenu1->addMenu(tr("&Help"));
    Help1->addAction(actAbout);

    PopupMenuImg = new QMenu(this);
    PopupMenuImg->addActions(EditActions());
}

void TfrmMain::CreateToolBar()
{
    ActionToolBar1 = new QToolBar(Client);
    ActionToolBar1->setIconSize(QSize(16, 16));
    ActionToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ActionToolBar1->setMovable(false);
    ActionToolBar1->addActions({actOpen, actSaveAs});
    ActionToolBar1->addSeparator();
    ActionToolBar1->addActions({actZoomIn, actZoomOut, actZoomAuto, actRotate, actMirror});
    ActionToolBar1->addSeparator();
    ActionToolBar1->addActions({actOstrel, actPrint});
    ActionToolBar1->setGeometry(0, 0, width(), 28);
}

void TfrmMain::CreateViews()
{
    Label1 = new QLabel(tr("Sheet preview:"), Client);
    Label1->move(kPreviewLeft, kViewTop);
    Label1->adjustSize();
    Label1->move(kPreviewLeft, kViewTop + (16 - Label1->height()) / 2);

    // The context menu takes the button releases that would end a drag: opening it ends one.
    const auto endDrag = [this] { Dragging = false; };

    imgPreview = new TImageControl(Client);
    imgPreview->setGeometry(kPreviewLeft, kPreviewTop, kPreviewWidth, kPreviewHeight);
    imgPreview->PopupMenu = PopupMenuImg;
    imgPreview->OnPopup = endDrag;
    imgPreview->OnRatioChange = [this] { DrawPreview(); };

    imgView = new TImageControl(Client);
    imgView->setGeometry(kViewLeft, kViewTop, kFrameWidth, kFrameHeight);
    imgView->setCursor(Qt::SizeAllCursor);
    imgView->PopupMenu = PopupMenuImg;
    imgView->OnPopup = endDrag;
    imgView->OnMouseDown = [this](Qt::MouseButton b, int x, int y) { imgViewMouseDown(b, x, y); };
    imgView->OnMouseMove = [this](int x, int y) { imgViewMouseMove(x, y); };
    imgView->OnMouseUp = [this](Qt::MouseButton b, int x, int y) { imgViewMouseUp(b, x, y); };
    imgView->OnRatioChange = [this] { DrawView(); };

    DragRest = new QTimer(this);
    DragRest->setSingleShot(true);
    DragRest->setInterval(150);
    connect(DragRest, &QTimer::timeout, this, [this] { DrawDragged(); });

    MessageBar1 = new TMessageBar(Client);
    MessageBar1->hide();
    MessageBar1->OnClose = [this] { FormResize(); };
}

void TfrmMain::CreateStatusBar()
{
    // Panel 0 is 90 pixels; panel 1 runs from its end to the bar's right end.
    StatusBar1 = statusBar();
    StatusBar1->setFont(StatusFont());
    StatusBar1->setSizeGripEnabled(true);
    auto* panels = new QWidget;
    auto* row = new QHBoxLayout(panels);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    StatusPanel0 = new TStatusPanel(QStringLiteral(" "));
    StatusPanel0->setFixedWidth(90);
    StatusPanel1 = new TStatusPanel(QStringLiteral(" "));
    StatusPanel1->setMinimumWidth(1);
    row->addWidget(StatusPanel0);
    row->addWidget(StatusPanel1, 1);
    StatusBar1->addWidget(panels, 1);
}

void TfrmMain::CreateDialogs()
{
    OpenDialog = new QFileDialog(this, tr("Open"));
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::AnyFile);
    // The desktop's dialogs (GTK, the portal) match patterns by case, unlike Qt's own, and
    // plotters' software writes names in capitals as often as not: each pattern in both cases.
    QStringList drawings;
    for (const char* suffix : {"plt", "hpgl", "hpg", "hp", "gfn", "spl", "svg", "svgz"})
        drawings << QStringLiteral("*.") + QLatin1String(suffix);
    for (const QString& p : QStringList(drawings))
        drawings << p.toUpper();
    OpenDialog->setNameFilters({tr("All drawings (%1)").arg(drawings.join(QLatin1Char(' '))),
                                tr("plot files (*.plt *.hpgl *.gfn)"), tr("drawings (*.svg *.svgz)"),
                                tr("text files (*.txt)"), tr("all files (*)")});
    connect(OpenDialog, &QFileDialog::accepted, this, &TfrmMain::actOpenAccept);

    SaveDialog = new QFileDialog(this, tr("Save As"));
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setDefaultSuffix(QStringLiteral("plt"));
    SaveDialog->setNameFilter(tr("plot file (*.plt)"));
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    connect(SaveDialog, &QFileDialog::accepted, this, &TfrmMain::actSaveAsAccept);

    ExportDialog = new QFileDialog(this, tr("Export as SVG"));
    ExportDialog->setAcceptMode(QFileDialog::AcceptSave);
    ExportDialog->setFileMode(QFileDialog::AnyFile);
    ExportDialog->setDefaultSuffix(QStringLiteral("svg"));
    ExportDialog->setNameFilter(tr("SVG drawing (*.svg)"));
    connect(ExportDialog, &QFileDialog::accepted, this, &TfrmMain::actExportSvgAccept);

    PrintDialog1Printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
}

QAction* TfrmMain::MakeAction(const QString& caption, const QString& hint, int image, void (TfrmMain::*handler)())
{
    auto* a = new QAction(caption, this);
    // A hint of two texts joined by '|' shows its first text as the tooltip; the second
    // is shown nowhere.
    const QString tip = hint.section(QLatin1Char('|'), 0, 0);
    a->setToolTip(tip.isEmpty() ? caption : tip);
    if (image >= 0)
        a->setIcon(Glyph(image));
    a->setIconVisibleInMenu(false);
    if (handler)
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return a;
}

QList<QAction*> TfrmMain::SheetActions() const
{
    return {actOpen,    actOpenPlain, actSave,   actSaveAs, actExportSvg, act7475, actZoomIn,
            actZoomOut, actZoomAuto,  actRotate, actMirror, actOstrel,    actPrint};
}

QList<QAction*> TfrmMain::EditActions() const
{
    return {act7475, actZoomIn, actZoomOut, actZoomAuto, actRotate, actMirror};
}

QList<QAction*> TfrmMain::Actions() const
{
    return SheetActions() << actAbout << actExit;
}

void TfrmMain::FormCreate()
{
    Sheet = std::make_unique<THpglSheet>();
    Redraw();
    Dragging = false;
}

void TfrmMain::FormDestroy()
{
    Sheet.reset();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!Centred) {
        Centred = true;
        if (QScreen* screen = this->screen()) {
            QRect r = frameGeometry();
            r.moveCenter(screen->availableGeometry().center());
            move(r.topLeft());
        }
    }
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (ActionToolBar1)
        ActionToolBar1->setGeometry(0, 0, Client->width(), 28);
    FormResize();
}

QSize TfrmMain::FitView(int wa, int ha)
{
    // The products are formed in 64 bits; a screen never makes them large, but nothing
    // here should depend on that.
    if (std::int64_t{wa} * kFrameHeight <= std::int64_t{ha} * kFrameWidth)
        return QSize(wa, static_cast<int>(std::int64_t{wa} * kFrameHeight / kFrameWidth));
    return QSize(static_cast<int>(std::int64_t{ha} * kFrameWidth / kFrameHeight), ha);
}

void TfrmMain::PlaceControls()
{
    // The bar spans the preview's column and the view's; both move down by its height, and
    // its height follows the width its text wraps to.
    int bar = 0;
    if (!MessageBar1->isHidden()) {
        const int width = std::max(1, Client->width() - kPreviewLeft - kRightGap);
        MessageBar1->setGeometry(kPreviewLeft, kViewTop, width, MessageBar1->HeightFor(width));
        bar = MessageBar1->height();
    }
    Label1->move(kPreviewLeft, kViewTop + (16 - Label1->height()) / 2 + bar);
    imgPreview->move(kPreviewLeft, kPreviewTop + bar);
    const int wa = std::max(1, Client->width() - kViewLeft - kRightGap);
    const int ha = std::max(1, Client->height() - kViewTop - bar - kBottomGap);
    const QSize s = FitView(wa, ha);
    imgView->setGeometry(kViewLeft, kViewTop + bar, std::max(1, s.width()), std::max(1, s.height()));
}

void TfrmMain::FormResize()
{
    if (!MessageBar1)
        return;
    PlaceControls();
    DrawView();
}

void TfrmMain::DrawView()
{
    // A resize handled while a load's redraw processes events asks for a view of its own;
    // the surface is in use, so the request waits until the running drawing is done.
    if (Drawing) {
        RedrawPending = true;
        return;
    }
    Drawing = true;
    // What is drawn now is the sheet as it is: a drag's pending drawing is done with.
    DragRest->stop();
    do {
        RedrawPending = false;
        // In device pixels: on a scaled screen the lines stay one screen pixel wide.
        QImage& surface = imgView->Surface();
        const QSize s = imgView->DeviceSize();
        QPainter p(&surface);
        PaintView(p, Sheet.get(), s.width(), s.height(), actShowTravel && actShowTravel->isChecked());
    } while (RedrawPending);
    Drawing = false;
    imgView->SetOffset(QPoint());
    imgView->update();
}

void TfrmMain::DrawPreview()
{
    QImage& surface = imgPreview->Surface();
    const QSize device = imgPreview->DeviceSize();
    const std::int64_t pw = std::max(1, device.width()), ph = std::max(1, device.height());
    std::int64_t x0 = Sheet->XMin <= 0 ? Sheet->XMin : 0;
    std::int64_t x1 = Sheet->XMax >= kFrameWidth ? Sheet->XMax : kFrameWidth;
    std::int64_t y0 = Sheet->YMin <= 0 ? Sheet->YMin : 0;
    std::int64_t y1 = Sheet->YMax >= kFrameHeight ? Sheet->YMax : kFrameHeight;
    if ((x1 - x0) * ph < (y1 - y0) * pw)
        x1 = x0 + (y1 - y0) * pw / ph;
    else
        y1 = y0 + (x1 - x0) * ph / pw;
    auto X = [&](std::int64_t x) { return static_cast<std::int32_t>(pw * (x - x0) / (x1 - x0)); };
    auto Y = [&](std::int64_t y) { return static_cast<std::int32_t>(ph - ph * (y - y0) / (y1 - y0)); };

    const TColor face = ToTColor(palette().color(QPalette::Button));
    {
        QPainter p(&surface);
        QtCanvas c(p);
        c.SetBrushColor(face);
        c.SetPenColor(face);
        c.Rectangle(0, 0, static_cast<std::int32_t>(pw), static_cast<std::int32_t>(ph));
        c.SetPenColor(face);
        c.SetBrushColor(clWhite);
        c.SetBrushStyle(TBrushStyle::Solid);
        c.Rectangle(X(0), Y(0), X(kFrameWidth), Y(kFrameHeight));
        c.SetPenColor(clRed);
        c.SetBrushColor(clWhite);
        c.SetBrushStyle(TBrushStyle::Clear);
        c.Rectangle(X(Sheet->XMin), Y(Sheet->YMin), X(Sheet->XMax), Y(Sheet->YMax));
    }
    imgPreview->update();
}

void TfrmMain::ShowCount()
{
    StatusPanel0->SetText(QStringLiteral("Objects: ") + QString::number(Sheet->Count()));
}

void TfrmMain::ShowSize()
{
    StatusPanel1->SetText(QStringLiteral("HPGL size: min=%1,%2 max=%3,%4")
                              .arg(Sheet->XMin)
                              .arg(Sheet->YMin)
                              .arg(Sheet->XMax)
                              .arg(Sheet->YMax));
}

void TfrmMain::Redraw()
{
    DrawView();
    ShowSize();
    ShowCount();
    DrawPreview();
}

void TfrmMain::SetBusy(bool busy)
{
    Busy = busy;
    for (QAction* a : SheetActions())
        a->setEnabled(!busy);
    actOptimise->setEnabled(!busy);
}

bool TfrmMain::event(QEvent* event)
{
    // Hints have no second text to show: nothing takes over the status panels.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void TfrmMain::imgViewMouseDown(Qt::MouseButton button, int x, int y)
{
    // Another button pressed during a drag ends it, as its release would.
    if (button != Qt::LeftButton)
        Dragging = false;
    if (button == Qt::LeftButton && Sheet->XMin != Sheet->XMax && !Busy) {
        Dragging = true;
        LastX = x;
        LastY = y;
    }
}

void TfrmMain::imgViewMouseMove(int x, int y)
{
    if (!Dragging)
        return;
    const std::int64_t w = imgView->width(), h = imgView->height();
    const std::int64_t dx = (std::int64_t{x} - LastX) * kFrameWidth / w;
    const std::int64_t dy = (std::int64_t{LastY} - y) * kFrameHeight / h;
    if (Sheet->Shift(static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy))) {
        if (Huge()) {
            imgView->SetOffset(imgView->Offset() + QPoint(x - LastX, y - LastY));
            DragRest->start();
        } else {
            DrawView();
        }
        ShowSize();
        DrawPreview();
    } else {
        StatusPanel1->SetText(tr("Move refused: the drawing would leave the coordinate range"));
    }
    LastX = x;
    LastY = y;
}

void TfrmMain::imgViewMouseUp(Qt::MouseButton, int, int)
{
    Dragging = false;
    if (DragRest->isActive())
        DrawDragged();
}

void TfrmMain::DrawDragged()
{
    const TWaitCursor wait(Huge());
    DrawView();
}

bool TfrmMain::Huge() const
{
    return Sheet && Sheet->Count() > HugeSheetObjects;
}

void TfrmMain::Transform(const QString& name, const std::function<bool()>& apply)
{
    const TWaitCursor wait(Huge());
    if (apply())
        Redraw();
    else
        StatusPanel1->SetText(tr("%1 refused: the drawing would leave the coordinate range").arg(name));
}

void TfrmMain::act7475Execute()
{
    Transform(tr("1/40 to 1/8"), [this] { return Sheet->Scale(40, 8); });
}

void TfrmMain::actZoomInExecute()
{
    Transform(tr("Zoom In"), [this] { return Sheet->Scale(7, 8); });
}

void TfrmMain::actZoomOutExecute()
{
    Transform(tr("Zoom Out"), [this] { return Sheet->Scale(8, 7); });
}

void TfrmMain::actZoomAutoExecute()
{
    Transform(tr("Zoom Auto"), [this] { return FitToFrame(*Sheet); });
}

void TfrmMain::actRotateExecute()
{
    Transform(tr("Rotate"), [this] { return Sheet->Rotate(); });
}

void TfrmMain::actMirrorExecute()
{
    Transform(tr("Mirror"), [this] { return Sheet->Mirror(); });
}

void TfrmMain::actOptimiseExecute()
{
    if (Busy || !Sheet->First)
        return;
    TPlotOrder order;
    {
        SetBusy(true);
        Optimising = true;
        CancelOptimise = false;
        const auto notBusy = qScopeGuard([this] {
            Optimising = false;
            SetBusy(false);
        });
        if (Sheet->Count() > 200000)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        const auto cursor = qScopeGuard([] {
            if (QApplication::overrideCursor())
                QApplication::restoreOverrideCursor();
        });
        TPlotOrderOptions options;
        options.Progress = WindowProgress(
            [this](int percent) {
                StatusPanel1->SetText(tr("Optimising the plot order: %1% (Esc cancels)").arg(percent));
            },
            [this] { return !CancelOptimise; });
        order = OptimisePlotOrder(*Sheet, options);
        if (order.Ok) {
            // As a load refills it: the model never reorders in place.
            RefillSheet(*Sheet, order.Objects);
            order.Objects = {};
        }
    }
    Redraw();
    if (order.Ok)
        StatusPanel1->SetText(tr("Plot order optimised: pen-up travel %1 m, was %2 m")
                                  .arg(order.TravelAfter / 8000, 0, 'f', 1)
                                  .arg(order.TravelBefore / 8000, 0, 'f', 1));
    else if (order.Cancelled)
        StatusPanel1->SetText(tr("Optimising the plot order cancelled; the sheet is as it was"));
    else
        StatusPanel1->SetText(tr("Optimising the plot order refused: %1").arg(QString::fromStdString(order.Reason)));
}

void TfrmMain::keyPressEvent(QKeyEvent* event)
{
    // Esc anywhere in the window (the view passes keys on) cancels an optimisation under way.
    if (Optimising && event->key() == Qt::Key_Escape) {
        CancelOptimise = true;
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfrmMain::actOstrelExecute()
{
    frmOstrel->exec();
}

void TfrmMain::actAboutExecute()
{
    frmAbout->exec();
}

void TfrmMain::actOpenExecute()
{
    OpenReading = TPlotReading::Translate;
    if (!OpenFileName.isEmpty())
        OpenDialog->selectFile(OpenFileName);
    OpenDialog->open();
}

void TfrmMain::actOpenPlainExecute()
{
    actOpenExecute();
    OpenReading = TPlotReading::Plain;
}

void TfrmMain::actOpenAccept()
{
    const QStringList files = OpenDialog->selectedFiles();
    if (files.isEmpty())
        return;
    OpenFileName = files.first();
    LoadFile(OpenFileName, OpenReading);
}

QString TfrmMain::TranslationMessage(const TTranslateReport& report) const
{
    QString text = QString::fromStdString(report.Summary());
    if (FrameOverrun(*Sheet).Any())
        text += tr("; \u201c%1\u201d or %2 brings it in").arg(MenuCaption(act7475), MenuCaption(actZoomAuto));
    return text;
}

void TfrmMain::LoadFile(const QString& name, TPlotReading reading)
{
    TFileResult result;
    {
        // The sheet's actions stay disabled for exactly as long as the load runs, however it ends.
        SetBusy(true);
        const auto notBusy = qScopeGuard([this] { SetBusy(false); });
        Sheet->Clear();
        SourceFile.clear();
        SourceIsPlain = false;
        // The last file's message goes with it; the view takes its room back before it is drawn.
        if (!MessageBar1->isHidden()) {
            MessageBar1->hide();
            PlaceControls();
        }
        // Keep the window alive while reading and while drawing what was read, but only
        // every 50 ms: the hooks run far more often than a person can see.
        auto last = std::chrono::steady_clock::now();
        auto alive = [&](const QString& text) {
            const auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(50))
                return;
            last = now;
            if (!text.isEmpty())
                StatusPanel1->SetText(text);
            QCoreApplication::processEvents();
        };
        Sheet->OnProgress = [&](std::uint64_t done, std::uint64_t total) {
            alive(total > 0 ? tr("Loading %1: %2%").arg(name).arg(done * 100 / total) : QString());
        };
        Sheet->OnDrawProgress = [&] { alive(tr("Drawing %1").arg(name)); };
        const auto resetHooks = qScopeGuard([this] {
            Sheet->OnProgress = nullptr;
            Sheet->OnDrawProgress = nullptr;
        });
        TTranslateReport report;
        result = LoadDrawing(*Sheet, name.toStdString(), reading, &report,
                             actSvgStrokeText->isChecked() ? TSvgText::Strokes : TSvgText::Outlines);
        // Shown before the drawing, so the view is drawn once, at the size the bar leaves it.
        if (result.Ok() && !HasDrawing(*Sheet)) {
            // Nothing to show or save: a stray pen selection stays out of the sheet, and
            // the file is named, since an empty view alone looks like a failure to draw.
            Sheet->Clear();
            MessageBar1->SetText(tr("no drawing commands found in %1").arg(QFileInfo(name).fileName()));
            MessageBar1->show();
            PlaceControls();
        } else if (result.Ok()) {
            SourceFile = QFileInfo(name).absoluteFilePath();
            SourceIsPlain =
                reading == TPlotReading::Translate && !report.Translated && !IsSvgDrawing(name.toStdString());
            // What translation did, and what the drawing holds that was not drawn.
            if (report.Translated || !report.NotDrawn.empty()) {
                MessageBar1->SetText(TranslationMessage(report));
                MessageBar1->show();
                PlaceControls();
            }
        }
        ShowTitle();
        Redraw();
    }
    if (!result.Ok())
        ShowErrorBox(tr("Cannot open \"%1\": %2").arg(name, QString::fromStdString(result.Reason)));
}

void TfrmMain::OpenFile(const QString& name)
{
    OpenFileName = QFileInfo(name).absoluteFilePath();
    LoadFile(OpenFileName);
}

QString TfrmMain::DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            return url.toLocalFile();
    return QString();
}

bool TfrmMain::CanTakeDrop() const
{
    return !Busy && !QApplication::activeModalWidget() && !OpenDialog->isVisible() && !SaveDialog->isVisible();
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (CanTakeDrop() && !DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmMain::dropEvent(QDropEvent* event)
{
    const QString file = DroppedFile(event->mimeData());
    if (!CanTakeDrop() || file.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The drag source waits for the drop to finish: load once the drop has returned.
    QMetaObject::invokeMethod(
        this,
        [this, file] {
            if (CanTakeDrop())
                OpenFile(file);
        },
        Qt::QueuedConnection);
}

void TfrmMain::ShowTitle()
{
    setWindowTitle(SourceFile.isEmpty() ? QStringLiteral("Grafonel")
                                        : QFileInfo(SourceFile).fileName() + QStringLiteral(" \u2014 Grafonel"));
}

void TfrmMain::actSaveExecute()
{
    if (!SourceFile.isEmpty() && SourceIsPlain) {
        const TWaitCursor wait(Huge());
        const TFileResult r = Sheet->SaveToFile(SourceFile.toStdString());
        if (!r.Ok())
            ShowErrorBox(tr("Cannot save \"%1\": %2").arg(SourceFile, QString::fromStdString(r.Reason)));
        return;
    }
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!SourceFile.isEmpty()) {
        const QFileInfo source(SourceFile);
        const QString suggested = source.dir().filePath(source.completeBaseName() + QStringLiteral(".plt"));
        // A translated .plt would be offered its own name: replacing it then takes a yes.
        if (QFileInfo(suggested) == source)
            SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
        SaveDialog->selectFile(suggested);
    }
    SaveDialog->open();
}

void TfrmMain::actSaveAsExecute()
{
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    SaveDialog->open();
}

void TfrmMain::actSaveAsAccept()
{
    const QStringList files = SaveDialog->selectedFiles();
    if (files.isEmpty())
        return;
    const TWaitCursor wait(Huge());
    const TFileResult r = Sheet->SaveToFile(files.first().toStdString());
    if (!r.Ok()) {
        ShowErrorBox(tr("Cannot save \"%1\": %2").arg(files.first(), QString::fromStdString(r.Reason)));
        return;
    }
    // The sheet is now what that file holds, in plain HPGL: Save goes on writing there.
    SourceFile = QFileInfo(files.first()).absoluteFilePath();
    SourceIsPlain = true;
    ShowTitle();
}

void TfrmMain::actExportSvgExecute()
{
    ExportDialog->open();
}

void TfrmMain::actExportSvgAccept()
{
    const QStringList files = ExportDialog->selectedFiles();
    if (files.isEmpty())
        return;
    const TWaitCursor wait(Huge());
    const TFileResult r = ExportSvg(*Sheet, files.first().toStdString());
    if (!r.Ok())
        ShowErrorBox(tr("Cannot export \"%1\": %2").arg(files.first(), QString::fromStdString(r.Reason)));
}

void TfrmMain::actPrintExecute()
{
    QPrintDialog dialog(PrintDialog1Printer.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintSheet(*PrintDialog1Printer);
}

void TfrmMain::PrintSheet(QPrinter& printer)
{
    printer.setDocName(QStringLiteral("Grafonel sheet ") + OpenFileName);
    printer.setFromTo(0, 0);
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error(tr("The printer could not start the document").toStdString());
    // The job is ended whether or not drawing succeeds, so no half-open job is left behind.
    const auto endJob = qScopeGuard([&painter] {
        if (painter.isActive())
            painter.end();
    });
    PaintPage(painter, *Sheet, printer);
}
