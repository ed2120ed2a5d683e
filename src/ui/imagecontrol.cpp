#include "ui/imagecontrol.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

TImageControl::TImageControl(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

qreal TImageControl::PixelRatio() const
{
    return ForcedRatio > 0 ? ForcedRatio : devicePixelRatioF();
}

QSize TImageControl::DeviceSize() const
{
    const qreal r = PixelRatio();
    return QSize(static_cast<int>(std::lround(width() * r)), static_cast<int>(std::lround(height() * r)));
}

QImage& TImageControl::Surface()
{
    // Drawn on at ratio 1, so that QtCanvas writes the pixels itself; the ratio is applied
    // only when the picture is shown.
    const QSize s = DeviceSize();
    if (Picture.width() < s.width() || Picture.height() < s.height())
        Picture =
            QImage(std::max(s.width(), Picture.width()), std::max(s.height(), Picture.height()), QImage::Format_RGB32);
    SurfaceSize = s;
    SurfaceRatio = PixelRatio();
    RatioChangeAsked = false;
    return Picture;
}

void TImageControl::SetOffset(QPoint offset)
{
    if (offset == FOffset)
        return;
    FOffset = offset;
    update();
}

void TImageControl::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.fillRect(event->rect(), palette().color(QPalette::Window));
    // A picture that was never handed out as a surface was drawn at the control's own size.
    const QSize source = SurfaceSize.isEmpty() ? size() : SurfaceSize;
    const qreal ratio = SurfaceSize.isEmpty() ? 1 : SurfaceRatio;
    p.drawImage(QRectF(FOffset, QSizeF(source) / ratio), Picture, QRectF(QPointF(0, 0), QSizeF(source)));
    if (!SurfaceSize.isEmpty() && SurfaceRatio != PixelRatio() && OnRatioChange && !RatioChangeAsked) {
        RatioChangeAsked = true;
        // Not from within the paint: the owner draws, and may resize or repaint, itself.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (OnRatioChange)
                    OnRatioChange();
            },
            Qt::QueuedConnection);
    }
}

void TImageControl::mousePressEvent(QMouseEvent* event)
{
    // Qt keeps delivering moves and the release to this widget while a button is held, also
    // outside it, in coordinates relative to it.
    if (OnMouseDown)
        OnMouseDown(event->button(), event->position().toPoint().x(), event->position().toPoint().y());
}

void TImageControl::mouseMoveEvent(QMouseEvent* event)
{
    if (OnMouseMove)
        OnMouseMove(event->position().toPoint().x(), event->position().toPoint().y());
}

void TImageControl::mouseReleaseEvent(QMouseEvent* event)
{
    if (OnMouseUp)
        OnMouseUp(event->button(), event->position().toPoint().x(), event->position().toPoint().y());
}

void TImageControl::contextMenuEvent(QContextMenuEvent* event)
{
    if (!PopupMenu)
        return;
    if (OnPopup)
        OnPopup();
    PopupMenu->exec(event->globalPos());
}
