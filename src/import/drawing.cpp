#include "import/drawing.h"

#include "import/svgimport.h"

TFileResult LoadDrawing(THpglSheet& sheet, const std::string& fileName)
{
    if (IsSvgDrawing(fileName)) {
        TSvgImportOptions options;
        if (sheet.OnProgress)
            options.OnProgress = [&sheet] { sheet.OnProgress(0, 0); };
        return ImportSvg(sheet, fileName, options);
    }
    return sheet.LoadFromFile(fileName);
}
