#pragma once
// A status bar panel: a text that is cut at the panel's edge, shown whole in the panel's
// tooltip whenever it does not fit.

#include <QLabel>

class TStatusPanel : public QLabel {
    Q_OBJECT
public:
    explicit TStatusPanel(const QString& text, QWidget* parent = nullptr);

    void SetText(const QString& text);
    // True when the whole text fits the panel with its current font and width.
    bool Fits() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateTip();
};
