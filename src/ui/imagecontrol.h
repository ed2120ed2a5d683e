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

    QImage Picture;
    QMenu* PopupMenu = nullptr;
    std::function<void(Qt::MouseButton, int, int)> OnMouseDown;
    std::function<void(int, int)> OnMouseMove;
    std::function<void(Qt::MouseButton, int, int)> OnMouseUp;
    // Runs as the context menu opens, before it takes the mouse.
    std::function<void()> OnPopup;

    // A surface of at least the control's size, for drawing the control's whole area.
    QImage& Surface();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
