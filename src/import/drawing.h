#pragma once
// Loading and exporting drawings: plot files (HPGL) and SVG documents, behind one call
// that the window and every command of the command-line tool share.

#include <cstdint>
#include <string>

#include "import/plotfile.h"
#include "sheet/hpglsheet.h"

// True when the file is taken for an SVG drawing: a .svg or .svgz name, gzip data, or text
// that starts with markup. HPGL never starts with '<'.
bool IsSvgDrawing(const std::string& fileName);

// Appends the file's drawing to the sheet: an SVG document as pen moves (ImportSvg), anything
// else as a plot file (LoadPlotFile, read as asked; the report says what translation did).
// SVG needs a QGuiApplication for its text.
// How an SVG drawing's text is drawn: the outlines of its glyphs, or single strokes.
enum class TSvgText : std::uint8_t { Outlines, Strokes };

TFileResult LoadDrawing(THpglSheet& sheet, const std::string& fileName, TPlotReading reading = TPlotReading::Translate,
                        TTranslateReport* report = nullptr, TSvgText svgText = TSvgText::Outlines);
