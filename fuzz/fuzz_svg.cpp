// Feeds arbitrary bytes to the SVG import, as a file's contents, and checks what it leaves on a
// sheet that already holds one move: a refusal with a reason and the sheet untouched, or the
// move followed by PA and pen commands alone, each pen-down run opened by a pen-up.
// Any sanitizer report, crash, hang or memory blow-up is a fault.

#include <QByteArray>
#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>

#include "import/svgimport.h"
#include "sheet/hpglobject.h"
#include "sheet/hpglsheet.h"

// Fontconfig keeps what Qt's font database asked of it until the process ends; the leak
// check at exit must not take that for a fault of the import.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace {

// Qt Svg says what it drops on every malformed document; thousands of lines a second would
// only slow the run down and bury a report.
void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Text is laid out through the platform's fonts, which need an application.
void StartApplication()
{
    static int argc = 1;
    static char name[] = "fuzz_svg";
    static char* argv[] = {name, nullptr};
    static const bool ready = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(Quiet);
        return true;
    }();
    static QGuiApplication app(argc, argv);
    (void)ready;
}

void Check(const THpglSheet& sheet, const TFileResult& result)
{
    const THpglObject* first = sheet.First;
    if (!first || first->Kind != hkPU || first->P1 != 0 || first->P2 != 0)
        std::abort();
    if (!result.Ok()) {
        if (result.Reason.empty() || sheet.Count() != 1 || sheet.Last != first)
            std::abort();
        return;
    }
    const THpglObject* o = first->Next;
    if (!o || o->Kind != hkPA)
        std::abort();
    bool pen = false, open = false, drawn = true;
    for (o = o->Next; o; o = o->Next) {
        switch (o->Kind) {
        case hkSP:
            if (o->P1 < 1)
                std::abort();
            pen = true;
            break;
        case hkPU:
            // A pen-up alone would draw nothing: every subpath draws at least a dot.
            if (!pen || !drawn || o->ParamCount != 2)
                std::abort();
            open = true;
            drawn = false;
            break;
        case hkPD:
            if (!open || o->ParamCount != 2)
                std::abort();
            drawn = true;
            break;
        default: std::abort();
        }
    }
    if (!drawn || sheet.XMin > sheet.XMax || sheet.YMin > sheet.YMax)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    StartApplication();
    THpglSheet sheet;
    sheet.Add(hkPU, 0, 0);
    TSvgImportOptions options;
    options.OnProgress = [] {};
    // Half the inputs with text in the stroke font, which rewrites every text.
    options.StrokeText = size % 2 == 1;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Check(sheet, ImportSvgData(sheet, bytes, options));
    return 0;
}
