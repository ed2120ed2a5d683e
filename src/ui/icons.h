#pragma once
// The action glyphs (16 x 16) and the application icon, drawn in code.

#include <QIcon>
#include <QPixmap>

// The screen scales the icons carry a pixmap drawn for; others scale the nearest.
inline constexpr qreal kIconScales[] = {1, 1.5, 2, 3};

// Image-list glyph by index: 2 zoom out, 3 zoom in, 4 print, 5 plot on the device, 6 open,
// 7 save as, 8 exit, 9 zoom to fit, 10 rotate, 11 mirror. 0 and 1 are blank. The pixmap is
// 16 x 16 device-independent pixels drawn for the given device pixel ratio.
QPixmap GlyphPixmap(int index, qreal dpr = 1);
QIcon Glyph(int index);
// 32 x 32: a pen plotter's pen drawing a curve on a sheet.
QPixmap AppIconPixmap(qreal dpr = 1);
QIcon AppIcon();

inline constexpr int kGlyphCount = 12;
