#include "ui/icons.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <array>

namespace {

const QColor kInk(40, 40, 48);
const QColor kBlue(36, 99, 181);
const QColor kPaper(252, 252, 246);
const QColor kGreen(38, 140, 64);
const QColor kRed(196, 40, 36);
const QColor kAmber(226, 170, 40);

QPen Pen(const QColor& c, qreal w = 1.2)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Magnifier(QPainter& p)
{
    p.setPen(Pen(kInk, 1.4));
    p.setBrush(QColor(220, 236, 252));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(Pen(kInk, 2.4));
    p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
}

void Draw(QPainter& p, int index)
{
    switch (index) {
    case 2:  // zoom out
        Magnifier(p);
        p.setPen(Pen(kBlue, 1.6));
        p.drawLine(QPointF(4, 6), QPointF(8, 6));
        break;
    case 3:  // zoom in
        Magnifier(p);
        p.setPen(Pen(kBlue, 1.6));
        p.drawLine(QPointF(4, 6), QPointF(8, 6));
        p.drawLine(QPointF(6, 4), QPointF(6, 8));
        break;
    case 4:  // print: a printer with a sheet coming out
        p.setPen(Pen(kInk));
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(150, 156, 166));
        p.drawRoundedRect(QRectF(1.5, 6.5, 13, 5), 1, 1);
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 10.5, 7, 4));
        p.setPen(Pen(kGreen, 1));
        p.drawPoint(QPointF(12.5, 8.5));
        break;
    case 5: {  // plot on the device: a pen over a curve
        p.setPen(Pen(kBlue, 1.4));
        QPainterPath curve(QPointF(1.5, 13));
        curve.cubicTo(QPointF(4, 6), QPointF(7, 15), QPointF(9.5, 10));
        p.setBrush(Qt::NoBrush);
        p.drawPath(curve);
        p.setPen(Pen(kInk));
        p.setBrush(kAmber);
        QPolygonF pen;
        pen << QPointF(9.5, 10) << QPointF(11, 6) << QPointF(15, 2) << QPointF(14, 1) << QPointF(10, 5);
        p.drawPolygon(pen);
        break;
    }
    case 6:  // open: a folder
        p.setPen(Pen(QColor(150, 110, 20)));
        p.setBrush(QColor(240, 200, 90));
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 3, 5, 1.5));
        p.setBrush(QColor(250, 220, 120));
        p.drawPolygon(QPolygonF() << QPointF(3, 7.5) << QPointF(15, 7.5) << QPointF(13.5, 13.5) << QPointF(1.5, 13.5));
        break;
    case 7:  // save as: a disk
        p.setPen(Pen(kInk));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.5, 1.5);
        p.setBrush(kPaper);
        p.drawRect(QRectF(4, 1.5, 8, 5));
        p.setBrush(QColor(200, 205, 215));
        p.drawRect(QRectF(4.5, 9.5, 7, 5));
        break;
    case 8:  // exit: a door with an arrow leaving
        p.setPen(Pen(kInk));
        p.setBrush(QColor(170, 120, 70));
        p.drawRect(QRectF(1.5, 1.5, 7, 13));
        p.setPen(Pen(kRed, 1.6));
        p.drawLine(QPointF(7, 8), QPointF(14.5, 8));
        p.drawLine(QPointF(12, 5.5), QPointF(14.5, 8));
        p.drawLine(QPointF(12, 10.5), QPointF(14.5, 8));
        break;
    case 9: {  // zoom to fit: a drawing filling its page, framed by four corner marks
        p.setPen(Pen(kInk, 1));
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 3.5, 7, 9));
        p.setPen(Pen(kRed, 1.2));
        p.setBrush(Qt::NoBrush);
        QPainterPath drawing(QPointF(5.5, 11.5));
        drawing.cubicTo(QPointF(7, 4), QPointF(9, 12), QPointF(10.5, 4.5));
        p.drawPath(drawing);
        p.setPen(QPen(kBlue, 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        for (auto [x, y, dx, dy] : {std::array<qreal, 4>{1, 1, 1, 1}, {15, 1, -1, 1}, {1, 15, 1, -1}, {15, 15, -1, -1}})
            p.drawPolyline(QPolygonF() << QPointF(x, y + 3.5 * dy) << QPointF(x, y) << QPointF(x + 3.5 * dx, y));
        break;
    }
    case 10: {  // rotate left: a counterclockwise arrow
        p.setPen(Pen(kBlue, 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 90 * 16, -270 * 16);
        p.setBrush(kBlue);
        p.setPen(Pen(kBlue, 1));
        p.drawPolygon(QPolygonF() << QPointF(8, 0.5) << QPointF(8, 5) << QPointF(4.5, 2.7));
        break;
    }
    case 11:  // mirror: two shapes about a dashed axis
        p.setPen(QPen(kInk, 1, Qt::DashLine));
        p.drawLine(QPointF(8, 0.5), QPointF(8, 15.5));
        p.setPen(Pen(kInk));
        p.setBrush(kBlue);
        p.drawPolygon(QPolygonF() << QPointF(6.5, 3) << QPointF(6.5, 13) << QPointF(1, 13));
        p.setBrush(QColor(160, 195, 235));
        p.drawPolygon(QPolygonF() << QPointF(9.5, 3) << QPointF(9.5, 13) << QPointF(15, 13));
        break;
    default: break;
    }
}

}  // namespace

QPixmap GlyphPixmap(int index, qreal dpr)
{
    // Drawn at the screen's pixels, not scaled up from 16 x 16, so a glyph stays sharp at
    // any scale.
    QPixmap pm(QSize(16, 16) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    Draw(p, index);
    return pm;
}

QIcon Glyph(int index)
{
    QIcon icon;
    for (qreal dpr : kIconScales)
        icon.addPixmap(GlyphPixmap(index, dpr));
    return icon;
}

void PaintAppIcon(QPainter& p)
{
    // The sheet.
    p.setPen(Pen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawRect(QRectF(3.5, 5.5, 20, 24));
    // The drawing on it.
    p.setPen(Pen(kBlue, 1.6));
    p.setBrush(Qt::NoBrush);
    QPainterPath curve(QPointF(6, 25));
    curve.cubicTo(QPointF(9, 11), QPointF(15, 30), QPointF(19, 15));
    p.drawPath(curve);
    p.setPen(Pen(kRed, 1.2));
    p.drawEllipse(QRectF(7, 8.5, 6, 6));
    // The pen, held by the carriage.
    p.setPen(Pen(kInk, 1.2));
    p.setBrush(kAmber);
    p.drawPolygon(QPolygonF() << QPointF(19, 15) << QPointF(21, 9) << QPointF(29.5, 1.5) << QPointF(31, 3)
                              << QPointF(23.5, 11.5));
    p.setBrush(kInk);
    p.drawPolygon(QPolygonF() << QPointF(19, 15) << QPointF(20, 12) << QPointF(22, 13.5));
}

QImage AppIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 32.0, size / 32.0);
    PaintAppIcon(p);
    return image;
}

QPixmap AppIconPixmap(qreal dpr)
{
    QPixmap pm(QSize(32, 32) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    PaintAppIcon(p);
    return pm;
}

QIcon AppIcon()
{
    QIcon icon;
    for (qreal dpr : kIconScales)
        icon.addPixmap(AppIconPixmap(dpr));
    return icon;
}
