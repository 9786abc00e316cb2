#include "Twips.h"

#include <QWidget>

#include <cmath>

namespace Twips {

int ToPixels(int twips, qreal dotsPerInch)
{
    return int(std::lround(twips * dotsPerInch / 1440.0));
}

QRect Rect(const QWidget *widget, int left, int top, int width, int height)
{
    const qreal x = widget->logicalDpiX();
    const qreal y = widget->logicalDpiY();
    return QRect(ToPixels(left, x), ToPixels(top, y), ToPixels(width, x), ToPixels(height, y));
}

void FixClientSize(QWidget *window, int width, int height)
{
    window->setFixedSize(ToPixels(width, window->logicalDpiX()),
                         ToPixels(height, window->logicalDpiY()));
}

} // namespace Twips
