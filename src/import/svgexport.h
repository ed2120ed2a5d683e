#pragma once
// The sheet as an SVG document: the 190 x 270 mm frame, viewBox "0 0 1520 2160", everything
// the view draws with pen down in the view's pen colours, as hairlines, y pointing down.

#include <string>

#include "sheet/hpglsheet.h"

std::string SheetToSvg(const THpglSheet& sheet);
// Written whole or not at all.
TFileResult ExportSvg(const THpglSheet& sheet, const std::string& fileName);
