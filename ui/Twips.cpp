#include "Twips.h"

#include <QWidget>

#include <cmath>

namespace Twips {

int ToPixels(int twips, qreal dotsPerInch, qreal scale)
{
    return int(std::lround(twips * dotsPerInch * scale / 1440.0));
}

qreal FontScale(const QWidget *window)
{
    const QFont &font = window->font();
    const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / window->logicalDpiY();
    return qMax(1.0, points / DesignPoints);
}

int Width(const QWidget *window, int twips)
{
    return ToPixels(twips, window->logicalDpiX(), FontScale(window));
}

QRect Rect(const QWidget *window, int left, int top, int width, int height)
{
    const qreal x = window->logicalDpiX(), y = window->logicalDpiY(), scale = FontScale(window);
    return QRect(ToPixels(left, x, scale), ToPixels(top, y, scale), ToPixels(width, x, scale),
                 ToPixels(height, y, scale));
}

void FixClientSize(QWidget *window, int width, int height)
{
    window->setFixedSize(Rect(window, 0, 0, width, height).size());
}

} // namespace Twips
