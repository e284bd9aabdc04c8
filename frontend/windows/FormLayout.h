// Placement of controls given in twips (1/1440 inch) and the forms' font.
#pragma once

#include <QFont>
#include <QWidget>
#include <initializer_list>
#include <utility>

namespace korvalinfe {

// Twips to device-independent pixels at 96 dots per inch (15 twips a pixel),
// which is the scale the layouts were drawn for.
int twips(int value);

// Sets a control's geometry from left, top, width and height in twips. Place
// a container before its controls and give a control its font first.
void place(QWidget* control, int left, int top, int width, int height);

// Creates a control on parent from the other constructor arguments (a caption,
// for most) and places it as place() does.
template <typename Control, typename... Args>
Control* addControl(QWidget* parent, int left, int top, int width, int height, Args&&... args) {
    auto* control = new Control(std::forward<Args>(args)..., parent);
    place(control, left, top, width, height);
    return control;
}

// Tahoma where it is installed, otherwise the nearest plain sans font.
QFont formFont(qreal points = 8.25, bool bold = false);

// Chains the keyboard focus through the controls that can take it, in order.
void setTabOrderChain(std::initializer_list<QWidget*> controls);

}  // namespace korvalinfe
