#pragma once
// A button that shows a colour and lets the user pick another one.

#include <QColor>
#include <QPushButton>
#include <functional>

namespace torvane {

class CColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit CColorButton(QWidget* parent);

    QColor color() const { return color_; }
    void setColor(const QColor& color);

    // Asks for a colour starting from the current one; an invalid answer keeps it. The default
    // opens the colour dialog; tests replace it.
    std::function<QColor(const QColor& current, QWidget* parent)> chooser;

private:
    void updateSwatch();
    QColor color_ = Qt::black;
};

}  // namespace torvane
