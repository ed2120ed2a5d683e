#include "import/drawing.h"

#include "import/svgimport.h"

TFileResult LoadDrawing(THpglSheet& sheet, const std::string& fileName, TPlotReading reading, TTranslateReport* report,
                        TSvgText svgText)
{
    if (IsSvgDrawing(fileName)) {
        if (report)
            *report = TTranslateReport{};
        TSvgImportOptions options;
        options.Report = report;
        options.StrokeText = svgText == TSvgText::Strokes;
        if (sheet.OnProgress)
            options.OnProgress = [&sheet] { sheet.OnProgress(0, 0); };
        return ImportSvg(sheet, fileName, options);
    }
    return LoadPlotFile(sheet, fileName, reading, report);
}
