// Build-time helper: writes the application icon for the desktop from the program's own
// drawing, as grafonel.svg and grafonel-N.png for every size given.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgGenerator>
#include <cstdio>
#include <cstdlib>

#include "ui/icons.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: grafonel-iconwriter OUTDIR SIZE...\n", stderr);
        return 2;
    }
    // A build machine has no display; the application gives the SVG writer a proper font state.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString name = QStringLiteral("%1/grafonel-%2.png").arg(dir).arg(size);
        if (size < 1 || size > 1024 || !AppIconImage(size).save(name, "PNG")) {
            std::fprintf(stderr, "grafonel-iconwriter: cannot write %s\n", name.toLocal8Bit().constData());
            return 1;
        }
    }
    QSvgGenerator svg;
    svg.setFileName(dir + QStringLiteral("/grafonel.svg"));
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRectF(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("Grafonel"));
    svg.setDescription(QStringLiteral("A pen plotter's pen drawing a curve on a sheet"));
    QPainter p;
    if (!p.begin(&svg)) {
        std::fputs("grafonel-iconwriter: cannot write grafonel.svg\n", stderr);
        return 1;
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    PaintAppIcon(p);
    return p.end() ? 0 : 1;
}
