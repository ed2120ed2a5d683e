// grafonel-cli render: the view's picture of a plot file as PNG, a printed page as PDF, or
// the sheet as an SVG drawing.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <memory>

#include "cli.h"
#include "import/svgexport.h"
#include "sheet/hpglsheet.h"
#include "ui/qtcanvas.h"

namespace cli {

namespace {
std::unique_ptr<QGuiApplication> guiApp;
int guiArgc = 1;
char guiName[] = "grafonel-cli";
char* guiArgv[] = {guiName, nullptr};
}  // namespace

void EnsureGuiApp()
{
    if (guiApp || QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    guiApp = std::make_unique<QGuiApplication>(guiArgc, guiArgv);
}

void ReleaseGuiApp()
{
    guiApp.reset();
}

namespace {

bool EndsWith(const std::string& s, const std::string& suffix)
{
    if (s.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i])
            return false;
    return true;
}

int CmdRender(const std::vector<std::string>& args)
{
    TRenderArgs a;
    std::vector<std::string> files;
    if (std::string error; !ParseOptions("render", RenderOptions(a), args, files, error))
        return Usage(error);
    const int w = a.Width, h = a.Height;
    const bool travel = a.Travel;
    const TPlotReading reading = a.Reading;
    if (files.size() != 2)
        return Usage("render takes an input and an output file; see 'grafonel-cli render --help'");
    const std::string& out = files[1];
    const bool pdf = EndsWith(out, ".pdf");
    const bool svg = EndsWith(out, ".svg");
    if (!pdf && !svg && !EndsWith(out, ".png"))
        return Usage("render writes .png, .pdf or .svg, not '" + out + "'");

    THpglSheet sheet;
    if (const int status = LoadSheet(sheet, files[0], reading))
        return status;

    if (svg) {
        const TFileResult r = ExportSvg(sheet, out);
        return r.Ok() ? 0 : Fail("cannot write '" + out + "': " + r.Reason);
    }
    // A PDF page needs the application (fonts, the platform's resolution); drawing into an
    // image and encoding it need neither, so a PNG starts no more of Qt than that.
    if (pdf)
        EnsureGuiApp();

    QSaveFile file(QString::fromStdString(out));
    if (!file.open(QIODevice::WriteOnly))
        return Fail("cannot write '" + out + "': " + file.errorString().toStdString());
    if (pdf) {
        QPdfWriter writer(&file);
        writer.setTitle(QStringLiteral("Grafonel sheet ") + QString::fromStdString(files[0]));
        writer.setCreator(QStringLiteral("Grafonel"));
        QPainter painter;
        if (!painter.begin(&writer))
            return Fail("cannot start a PDF page in '" + out + "'");
        PaintPage(painter, sheet, writer);
        painter.end();
    } else {
        QImage image(w, h, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            PaintView(painter, &sheet, w, h, travel);
        }
        // Quality 89 is zlib level 1: the same pixels, a little larger, written several times faster.
        if (!image.save(&file, "PNG", 89))
            return Fail("cannot write '" + out + "': " + file.errorString().toStdString());
    }
    if (!file.commit())
        return Fail("cannot write '" + out + "': " + file.errorString().toStdString());
    return 0;
}

}  // namespace

std::vector<Command> RenderCommands()
{
    return {RenderCommand(CmdRender)};
}

}  // namespace cli
