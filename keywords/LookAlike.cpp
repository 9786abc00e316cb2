#include "LookAlike.h"

#include "system/LookAlikeRanges.h"

#include <algorithm>

namespace {

const LookAlikeRange *RangeOf(QChar c)
{
    const std::span<const LookAlikeRange> ranges = LookAlikeRanges();
    const auto after = std::upper_bound(ranges.begin(), ranges.end(), c.unicode(),
                                        [](char16_t c, const LookAlikeRange &range) { return c < range.first; });
    return after != ranges.begin() && c.unicode() <= std::prev(after)->last ? &*std::prev(after) : nullptr;
}

bool IsWidePunctuation(QChar c)
{
    const LookAlikeRange *range = RangeOf(c);
    return range && range->kind == LookAlikeKind::WidePunctuation;
}

} // namespace

QList<qsizetype> LookAlikes(QStringView keyword)
{
    if (std::all_of(keyword.begin(), keyword.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return {};
    QList<qsizetype> marked;
    bool chinese = false, punctuation = false;
    for (qsizetype i = 0; i < keyword.size(); ++i) {
        const LookAlikeRange *range = RangeOf(keyword[i]);
        if (!range)
            continue;
        if (range->kind == LookAlikeKind::Han)
            chinese = true;
        else
            marked.append(i);
        punctuation = punctuation || range->kind == LookAlikeKind::WidePunctuation;
    }
    // Among Chinese characters, fullwidth punctuation is what the text is
    // written with; alone, "％" would pass for the "%" it replaced.
    if (chinese && punctuation)
        marked.removeIf([keyword](qsizetype i) { return IsWidePunctuation(keyword[i]); });
    return marked;
}
