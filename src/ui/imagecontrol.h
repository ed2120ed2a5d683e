#pragma once
// An image control: a widget owning a bitmap that it shows at its top-left corner, with the
// mouse handlers and the context menu of the form that places it.

#include <QImage>
#include <QMenu>
#include <QWidget>
#include <functional>

class TImageControl : public QWidget {
    Q_OBJECT
public:
    explicit TImageControl(QWidget* parent = nullptr);

    // Drawn in device pixels: a control of w x h logical pixels at ratio r shows the
    // round(w r) x round(h r) pixels at its top-left corner, one bitmap pixel a screen pixel.
    QImage Picture;
    QMenu* PopupMenu = nullptr;
    std::function<void(Qt::MouseButton, int, int)> OnMouseDown;
    std::function<void(int, int)> OnMouseMove;
    std::function<void(Qt::MouseButton, int, int)> OnMouseUp;
    // Runs as the context menu opens, before it takes the mouse.
    std::function<void()> OnPopup;
    // Asked for once the picture no longer matches the screen's pixels (the window moved to
    // a screen of another ratio); the owner draws it again.
    std::function<void()> OnRatioChange;

    // Device pixels per logical pixel: the screen's, or ForcedRatio when above 0 (tests).
    qreal PixelRatio() const;
    qreal ForcedRatio = 0;
    // The control's size in device pixels at PixelRatio().
    QSize DeviceSize() const;
    // A surface of at least DeviceSize(), for drawing the control's whole area; what is
    // drawn on it is shown from the next paint on.
    QImage& Surface();
    // Shows the picture moved by this many logical pixels (a drag shows the old picture
    // moved until the new one is drawn); the room it leaves shows the window's colour.
    void SetOffset(QPoint offset);
    QPoint Offset() const { return FOffset; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QSize SurfaceSize;       // the part of Picture last handed out to draw on
    qreal SurfaceRatio = 1;  // the ratio it was handed out for
    bool RatioChangeAsked = false;
    QPoint FOffset;
};
