#pragma once

#include <QRect>

class QWidget;

// Window layouts are given in twips: 1440 to the inch, so 15 to a pixel at
// 96 dots per inch.
namespace Twips {

int ToPixels(int twips, qreal dotsPerInch);

// A rectangle in twips, converted with the widget's logical DPI.
QRect Rect(const QWidget *widget, int left, int top, int width, int height);

// Gives a window a fixed client area of the given size in twips.
void FixClientSize(QWidget *window, int width, int height);

} // namespace Twips
