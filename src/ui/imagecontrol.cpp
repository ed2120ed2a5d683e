#include "ui/imagecontrol.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>

TImageControl::TImageControl(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage& TImageControl::Surface()
{
    if (Picture.width() < width() || Picture.height() < height())
        Picture = QImage(std::max(width(), Picture.width()), std::max(height(), Picture.height()), QImage::Format_RGB32);
    return Picture;
}

void TImageControl::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.fillRect(event->rect(), palette().color(QPalette::Window));
    p.drawImage(QPoint(0, 0), Picture, QRect(0, 0, width(), height()));
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
