#pragma once

#include <QRect>

class QWidget;

// Window layouts are given in twips: 1440 to the inch, so 15 to a pixel at
// 96 dots per inch. They were made for the platform's normal dialog font at
// its default size, DesignPoints; with a larger font every position and size
// grows in proportion, as dialog units do on Windows, so that no caption is
// cut. A smaller font keeps the layout as designed.
namespace Twips {

// Windows's message font at 100 % text size, and Qt's own default font.
inline constexpr qreal DesignPoints = 9;

// To the nearest pixel, halves away from zero.
int ToPixels(int twips, qreal dotsPerInch, qreal scale = 1);

// How much larger than designed the window's font is, never less than 1.
qreal FontScale(const QWidget *window);

// A horizontal length in twips, converted for the window's DPI and font.
int Width(const QWidget *window, int twips);

// A rectangle in twips, converted for the window's DPI and font.
QRect Rect(const QWidget *window, int left, int top, int width, int height);

// Gives a window a fixed client area of the given size in twips.
void FixClientSize(QWidget *window, int width, int height);

} // namespace Twips
