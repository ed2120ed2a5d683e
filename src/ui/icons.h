#pragma once
// The action glyphs (16 x 16) and the application icon, drawn in code.

#include <QIcon>
#include <QPixmap>

// Image-list glyph by index: 2 zoom out, 3 zoom in, 4 print, 5 plot on the device, 6 open,
// 7 save as, 8 exit, 9 zoom to fit, 10 rotate, 11 mirror. 0 and 1 are blank.
QPixmap GlyphPixmap(int index);
QIcon Glyph(int index);
class QPainter;
class QImage;

// The application icon, a pen plotter's pen drawing a curve on a sheet, in a 32 x 32 design;
// scale the painter for other sizes (the desktop's PNGs and SVG are drawn from this too).
void PaintAppIcon(QPainter& p);
QImage AppIconImage(int size);
QPixmap AppIconPixmap();  // 32 x 32
QIcon AppIcon();          // every size the desktop asks for

inline constexpr int kGlyphCount = 12;
