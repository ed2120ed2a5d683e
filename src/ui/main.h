#pragma once
// The main window: the sheet, its view and preview, the actions and the file commands.
//
// Names of classes, controls and members (here, in frmostrel.h and about.h) follow the
// program's original design document word for word, its misspellings included
// (gbHandshack, cbZrychlovat), so that the code can be read beside it. A T prefix names a
// class; an F prefix names the private field that holds a property's value behind its
// accessors (FSize behind Size() in the serial component); frm names a form, a top-level
// window whose one instance is the global of that name (frmMain, frmOstrel, frmAbout).
// Controls carry the design's kind prefixes: act action, img image, lbl label, btn button,
// cb combo or check box, rb radio button, gb group box, tb track bar, pb progress gauge.

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrinter>
#include <QStatusBar>
#include <QToolBar>
#include <QTimer>
#include <functional>
#include <memory>

#include "import/plotfile.h"
#include "sheet/hpglsheet.h"
#include "ui/imagecontrol.h"
#include "ui/messagebar.h"
#include "ui/statuspanel.h"

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    QStatusBar* StatusBar1 = nullptr;
    TImageControl* imgView = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* Output1 = nullptr;
    QMenu* Help1 = nullptr;
    QLabel* Label1 = nullptr;
    TImageControl* imgPreview = nullptr;
    QToolBar* ActionToolBar1 = nullptr;
    QMenu* PopupMenuImg = nullptr;
    TStatusPanel* StatusPanel0 = nullptr;
    TStatusPanel* StatusPanel1 = nullptr;
    // Above the view while shown: what translating the loaded file did.
    TMessageBar* MessageBar1 = nullptr;

    QAction* actOpen = nullptr;
    QAction* actOpenPlain = nullptr;
    QAction* actSave = nullptr;
    QAction* actSaveAs = nullptr;
    QAction* actExportSvg = nullptr;
    QAction* act7475 = nullptr;
    QAction* actZoomIn = nullptr;
    QAction* actZoomOut = nullptr;
    QAction* actZoomAuto = nullptr;
    QAction* actRotate = nullptr;
    QAction* actMirror = nullptr;
    QAction* actOstrel = nullptr;
    QAction* actPrint = nullptr;
    QAction* actAbout = nullptr;
    QAction* actExit = nullptr;
    // Beyond the design, after the Edit menu's six: reorder the sheet for a shorter plot, and
    // show the pen-up moves in the view.
    QAction* actOptimise = nullptr;
    QAction* actShowTravel = nullptr;
    QAction* actSvgStrokeText = nullptr;  // checked: SVG text opened from now on in single strokes

    // Alive for the whole run: each remembers its last accepted name.
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    QFileDialog* ExportDialog = nullptr;
    std::unique_ptr<QPrinter> PrintDialog1Printer;
    // The open dialog's file name: the last name accepted there (a full path), or empty.
    QString OpenFileName;
    // The file the sheet was last read from or saved to (a full path), or empty; the title
    // names it. Save writes over it only when SourceIsPlain: it was read as a plot file
    // and nothing needed translating, so the sheet holds what the file holds.
    QString SourceFile;
    bool SourceIsPlain = false;

    // Above this many objects a sheet counts as huge (Huge()).
    static constexpr int HugeSheetObjects = 200000;

    bool Dragging = false;
    std::int32_t LastX = 0;
    std::int32_t LastY = 0;
    std::unique_ptr<THpglSheet> Sheet;

    // The fifteen actions: the sheet's, then About and Exit.
    QList<QAction*> Actions() const;
    // The thirteen that work on the sheet (Open as plain HPGL after Open, Save before Save
    // As, Export as SVG after Save As), which a load disables.
    QList<QAction*> SheetActions() const;
    // The six of the Edit menu and the context menu.
    QList<QAction*> EditActions() const;

    void Redraw();
    void ShowCount();
    void ShowSize();
    void SetBusy(bool busy);
    void DrawView();
    void DrawPreview();
    void FormResize();
    // The view's size for an available area: the frame's proportion, the binding side full.
    static QSize FitView(int availableWidth, int availableHeight);

    void imgViewMouseDown(Qt::MouseButton button, int x, int y);
    void imgViewMouseMove(int x, int y);
    void imgViewMouseUp(Qt::MouseButton button, int x, int y);

    void act7475Execute();
    void actZoomInExecute();
    void actZoomOutExecute();
    void actZoomAutoExecute();
    void actRotateExecute();
    void actMirrorExecute();
    // Rewrites the sheet in the optimised plot order, with progress in the status bar; Esc
    // cancels and leaves the sheet as it was.
    void actOptimiseExecute();
    void actOstrelExecute();
    void actAboutExecute();
    void actOpenExecute();
    void actOpenPlainExecute();
    void actOpenAccept();
    // The load that Open runs on acceptance: busy, clear, load with progress, redraw, and
    // the message bar when the plot file was translated. A plot file or an SVG drawing.
    void LoadFile(const QString& name, TPlotReading reading = TPlotReading::Translate);
    // Opens a file named from outside the open dialog (the command line, a drop) exactly as
    // accepting it there would: the dialog offers it next time.
    void OpenFile(const QString& name);
    // The file a drop would open: the first local file among the dragged URLs, or empty.
    static QString DroppedFile(const QMimeData* data);
    // Writes over SourceFile when it is plain HPGL; otherwise Save As, offering the source's
    // name with .plt, so a translated or SVG original is never replaced by its translation.
    void actSaveExecute();
    void actSaveAsExecute();
    void actSaveAsAccept();
    void actExportSvgExecute();
    void actExportSvgAccept();
    void actPrintExecute();
    // The part of printing after the print dialog: one page, the frame over its printable area.
    void PrintSheet(QPrinter& printer);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateViews();
    void CreateStatusBar();
    void CreateDialogs();
    void FormCreate();
    void FormDestroy();
    QAction* MakeAction(const QString& caption, const QString& hint, int image, void (TfrmMain::*handler)());
    // Places the message bar (when shown), the preview with its label and the view; the
    // view keeps the frame's proportion in what is left.
    void PlaceControls();
    // The bar's text after a load: what translation did, and how to bring in a drawing
    // that lies beyond the paper.
    QString TranslationMessage(const TTranslateReport& report) const;
    // Runs a sheet transform; a refusal leaves the drawing and says so in the size panel.
    void Transform(const QString& name, const std::function<bool()>& apply);
    // A sheet this big takes a person-noticeable time to transform or draw: such work shows
    // the wait cursor, and a drag moves the last picture instead of drawing each step.
    bool Huge() const;
    // "name.plt — Grafonel" for SourceFile, "Grafonel" without one.
    void ShowTitle();
    // The drawing of a drag on a huge sheet, once the mouse rests or is released.
    void DrawDragged();
    // A drop is taken only when Open could run now: not while a file loads (the load
    // processes events) nor while a dialog (a plot, a print) holds the window.
    bool CanTakeDrop() const;

    QWidget* Client = nullptr;
    QTimer* DragRest = nullptr;  // a huge sheet's drag draws when this runs out
    bool Centred = false;
    bool Busy = false;           // a file is loading: no drag may start
    bool Drawing = false;        // DrawView is running (it may process events)
    bool RedrawPending = false;  // DrawView was asked for while drawing
    bool Optimising = false;     // the plot order is being optimised (it processes events)
    bool CancelOptimise = false;
    // How the open dialog's file is read: Open translates, Open as plain HPGL does not.
    TPlotReading OpenReading = TPlotReading::Translate;
};

extern TfrmMain* frmMain;
