#include "ui/statuspanel.h"

#include <QEvent>
#include <QFontMetrics>
#include <algorithm>

TStatusPanel::TStatusPanel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setIndent(2);
    UpdateTip();
}

void TStatusPanel::SetText(const QString& text)
{
    setText(text);
    UpdateTip();
}

bool TStatusPanel::Fits() const
{
    const int room = contentsRect().width() - std::max(indent(), 0);
    return fontMetrics().horizontalAdvance(text()) <= room;
}

void TStatusPanel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    UpdateTip();
}

void TStatusPanel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateTip();
}

void TStatusPanel::UpdateTip()
{
    setToolTip(Fits() ? QString() : text());
}
