#pragma once
// Single-stroke fonts for labels: the Hershey fonts, built in as tables, with the accented
// letters of Roman-8 and Latin-1 composed from a base letter and a mark.

#include <cstdint>
#include <vector>

#include "import/hpglgeom.h"

namespace hpgl2 {

enum class TStrokeFace : std::uint8_t {
    SimplexRoman,   // one line per stroke, like a plotter's stick font
    DuplexRoman,    // doubled lines, no serifs
    TriplexRoman,   // tripled lines with serifs
    SimplexScript,  // joined handwriting
    ComplexItalic,  // doubled lines, slanted, with serifs
    SimplexGreek,   // ASCII letters give the Greek ones in Greek order: A alpha, B beta, l mu
    FuturaLight,    // the Simplex Roman strokes with plainer punctuation
};

enum class TCharSet : std::uint8_t { Roman8, Latin1 };

// The face drawn for an HP-GL/2 font (SD/AD kinds 2 spacing, 5 posture, 6 stroke weight,
// 7 typeface). A typeface is taken modulo 4096, which drops the vendor from PCL numbers
// (4101 CG Times is 5 Times, 16602 Arial is 218).
//
//   typeface                                      medium          bold (weight 3 to 7)
//   0 line printer, 1 pica, 2 elite, 3 Courier,
//     6 Letter Gothic, 8 Prestige, 48 stick, 50 arc  SimplexRoman  DuplexRoman
//   4 Helvetica, 52 Univers, 218 Arial             FuturaLight     DuplexRoman
//   5 Times, 517 Times New Roman                   DuplexRoman     TriplexRoman
//   7 script, 20 Coronet, 201 Marigold             SimplexScript   SimplexScript
//   any other, spacing 1 (proportional)            FuturaLight     DuplexRoman
//   any other, spacing 0 (fixed)                   SimplexRoman    DuplexRoman
//
// Posture 1 or 2 (italic, alternate italic) gives ComplexItalic, except to script typefaces.
// Weight 9999 (the pen's own width) counts as medium.
TStrokeFace FaceFor(int typeface, int posture, int weight, int spacing);

// A glyph in font units: x from the glyph's left extent, y up from the baseline. The pen
// advances Right - Left; strokes may reach past either extent (italic overhangs, accents).
struct TGlyph {
    std::vector<std::vector<TPt>> Strokes;
    double Left = 0;
    double Right = 0;
    bool Known = false;  // false: the strokes are a box standing in for the character

    double Advance() const { return Right - Left; }
};

// The height of 'H' in font units (21 in every face): a cell of height h scales glyphs by
// h / CapHeight(face).
double CapHeight(TStrokeFace face);

// The glyph of code in set. ASCII 32 to 126 comes from the face, as it is in both sets;
// accented letters are the face's base letter with a mark above (a cedilla below, a slash
// through O), the spacing accents are the mark alone, inverted ! and ? are turned, and µ is
// the Greek mu. Anything else is not Known and draws a box the width of a space.
// Allocates only the returned vectors; O(1) lookups.
TGlyph Glyph(TStrokeFace face, unsigned char code, TCharSet set);

}  // namespace hpgl2
