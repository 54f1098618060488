#pragma once
// What the settings dialogs share: control ids kept as object names and as a "controlId"
// property (so tests and tools find a control by either), the fixed list captions, and the
// COLORREF <-> QColor conversion.

#include <QColor>
#include <QStringList>
#include <QWidget>
#include <cstdint>

class QDialog;

namespace torvane {

// The standard button ids.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Gives `control` its id: objectName `name` and property "controlId" `id`.
template <class W>
W* withId(W* control, const char* name, int id) {
    control->setObjectName(QString::fromLatin1(name));
    control->setProperty("controlId", id);
    return control;
}

// Lays `dialog` out as `content` above a right-aligned row of OK (the default, accepts) and, where
// the dialog has one, Cancel (rejects). Without Cancel, Escape and the close box cancel.
void layOutAboveButtonRow(QDialog* dialog, QWidget* content, bool withCancel);

// The control of `dialog` with this id (its own, not those of child dialogs), or null.
QWidget* findControl(QWidget* dialog, int id);

// "0%" ... "100%": list index i stands for 10 * i percent.
QStringList opacityCaptions();
// "TopLeft" ... "MiddleCenter" in the order of the position values.
QStringList watermarkPositionCaptions();
// "Top Left" ... "Middle Center": the same order for the picture in picture.
QStringList pipPositionCaptions();
// "Keep Original Size" ... "Fixed - 320x240" in the order of the size choice values.
QStringList captureSizeCaptions();
// "Normal", "Higher", "Highest".
QStringList qualityCaptions();

// COLORREF is 0x00BBGGRR.
QColor colorFromColorref(uint32_t colorref);
uint32_t colorrefFromColor(const QColor& color);

}  // namespace torvane
