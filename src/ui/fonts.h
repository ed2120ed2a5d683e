#pragma once
// The windows' fonts. The controls keep the design's places and sizes, so the fonts are the
// ones whose real metrics hold every caption whole there (the tests measure them).

#include <QFont>

// Arial's metrics (Liberation Sans, from the set-up step) at 10 pixels: Qt's check and radio
// indicators take more room than the design's, and 11 pixels would cut their captions.
QFont DesignFont();
// The narrow cut of the same family at the design's 11 pixels, so that the widest count and
// extents fit the status bar's panels.
QFont StatusFont();
