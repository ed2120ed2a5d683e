#pragma once
// A closable message in the manner of KDE's KMessageWidget (its information kind): a light
// tinted, rounded frame with an information icon, the text wrapped to the width and a small
// close button at the right. The form places it; it places its own parts.

#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <functional>

class TMessageBar : public QWidget {
    Q_OBJECT
public:
    explicit TMessageBar(QWidget* parent = nullptr);

    QLabel* lblText = nullptr;
    QToolButton* btnClose = nullptr;
    // Runs after the close button has hidden the bar, so the form can take the room back.
    std::function<void()> OnClose;

    void SetText(const QString& text);
    // The height the bar takes at a width: its frame around the wrapped text, and the gap
    // below the frame that separates it from what follows.
    int HeightFor(int width) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int TextWidth(int width) const;
    void PlaceParts();
};
