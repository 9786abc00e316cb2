#include "KeywordDisplay.h"

#include "HiddenCharacters.h"
#include "LookAlike.h"

#include <algorithm>

QString KeywordDisplay::Shown(const QString &keyword, qsizetype characters)
{
    // Run at every repaint of a row: a keyword of printable ASCII that fits
    // costs one pass and no copy.
    const auto plain = [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; };
    if (keyword.size() <= characters && std::all_of(keyword.cbegin(), keyword.cend(), plain))
        return keyword;
    // What is shown is all that is looked at: a character is two units at most.
    const QList<qsizetype> alike = LookAlikes(QStringView(keyword).first(qMin(keyword.size(), 2 * characters)));
    auto nextAlike = alike.cbegin();
    QString shown;
    qsizetype counted = 0, i = 0;
    for (; i < keyword.size() && counted < characters; ++counted) {
        const bool pair = keyword[i].isHighSurrogate() && i + 1 < keyword.size() && keyword[i + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(keyword[i], keyword[i + 1]) : keyword[i].unicode();
        const qsizetype units = pair ? 2 : 1;
        const bool looksAlike = nextAlike != alike.cend() && *nextAlike == i;
        if (looksAlike)
            ++nextAlike;
        if (IsHidden(c) || looksAlike)
            shown += QStringLiteral("‹U+%1›").arg(uint(c), 4, 16, QChar(u'0')).toUpper();
        else
            shown += QStringView(keyword).sliced(i, units);
        i += units;
    }
    if (i < keyword.size())
        shown += u'…';
    return shown;
}

QString KeywordDisplay::Quoted(const QString &keyword, qsizetype characters)
{
    return u'“' + Shown(keyword, characters) + u'”';
}
