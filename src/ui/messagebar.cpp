#include "ui/messagebar.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace {

constexpr int kPad = 5;  // inside the frame, around the icon, the text and the button
constexpr int kIcon = 16;
constexpr int kSpacing = 5;  // between the icon, the text and the button
constexpr int kButton = 16;
constexpr int kGapBelow = 4;

// The close button's cross, drawn for whatever size and scale the button asks.
class TCrossEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette::ColorGroup group = mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active;
        const QColor ink = QApplication::palette().color(group, QPalette::WindowText);
        painter->setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::RoundCap));
        const qreal inset = rect.width() * 0.25;
        const QRectF r = QRectF(rect).adjusted(inset, inset, -inset, -inset);
        painter->drawLine(r.topLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomLeft());
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1);
    }
    // Qt's default scales the 1x pixmap up; a cross drawn anew stays sharp.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap pm(size * scale);
        pm.setDevicePixelRatio(scale);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }
    QIconEngine* clone() const override { return new TCrossEngine(*this); }
};

}  // namespace

TMessageBar::TMessageBar(QWidget* parent) : QWidget(parent)
{
    lblText = new QLabel(this);
    lblText->setTextFormat(Qt::PlainText);
    lblText->setWordWrap(true);
    lblText->setTextInteractionFlags(Qt::NoTextInteraction);

    btnClose = new QToolButton(this);
    btnClose->setAutoRaise(true);
    btnClose->setIcon(QIcon(new TCrossEngine));
    btnClose->setIconSize(QSize(12, 12));
    btnClose->setToolTip(tr("Close"));
    btnClose->setFocusPolicy(Qt::NoFocus);
    connect(btnClose, &QToolButton::clicked, this, [this] {
        hide();
        if (OnClose)
            OnClose();
    });
}

void TMessageBar::SetText(const QString& text)
{
    lblText->setText(text);
    PlaceParts();
}

int TMessageBar::TextWidth(int width) const
{
    return std::max(1, width - 2 * kPad - kIcon - 2 * kSpacing - kButton);
}

int TMessageBar::HeightFor(int width) const
{
    return 2 * kPad + std::max(kIcon, lblText->heightForWidth(TextWidth(width))) + kGapBelow;
}

void TMessageBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PlaceParts();
}

void TMessageBar::PlaceParts()
{
    // Icon, text and button share the frame's middle, so one line sits level with the icon.
    const int content = height() - kGapBelow - 2 * kPad;
    const int textWidth = TextWidth(width());
    const int textHeight = lblText->heightForWidth(textWidth);
    lblText->setGeometry(kPad + kIcon + kSpacing, kPad + (content - textHeight) / 2, textWidth, textHeight);
    btnClose->setGeometry(width() - kPad - kButton, kPad + (content - kButton) / 2, kButton, kButton);
}

void TMessageBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    const QColor window = palette().color(QPalette::Window);
    // A fifth of the accent over the window's colour, as KMessageWidget tints its frame.
    const QColor tint((window.red() * 4 + accent.red()) / 5, (window.green() * 4 + accent.green()) / 5,
                      (window.blue() * 4 + accent.blue()) / 5);
    p.setPen(QPen(accent, 1));
    p.setBrush(tint);
    p.drawRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - kGapBelow - 1), 4, 4);

    // The information icon: an i on a disc of the accent colour.
    const int content = height() - kGapBelow - 2 * kPad;
    const QRectF icon(kPad, kPad + (content - kIcon) / 2, kIcon, kIcon);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawEllipse(icon.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setBrush(Qt::white);
    const qreal cx = icon.center().x();
    p.drawEllipse(QPointF(cx, icon.top() + 4.5), 1.3, 1.3);
    p.drawRoundedRect(QRectF(cx - 1.1, icon.top() + 6.8, 2.2, 6.2), 0.6, 0.6);
}
