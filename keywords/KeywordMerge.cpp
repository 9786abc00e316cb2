#include "KeywordMerge.h"

#include <QHash>

#include <algorithm>

namespace {

QHash<QString, qsizetype> Counts(QStringList::const_iterator from, QStringList::const_iterator to)
{
    QHash<QString, qsizetype> counts;
    for (; from != to; ++from)
        ++counts[*from];
    return counts;
}

} // namespace

KeywordMerge::Changes KeywordMerge::Compare(const QStringList &before, const QStringList &after)
{
    // Most saves change a few keywords of a long list: only what lies between
    // the common start and the common end is counted.
    const auto [beforeEnd, afterEnd] = std::mismatch(before.crbegin(), before.crend(), after.crbegin(), after.crend());
    const auto [beforeFrom, afterFrom] =
            std::mismatch(before.cbegin(), beforeEnd.base(), after.cbegin(), afterEnd.base());
    QHash<QString, qsizetype> left = Counts(beforeFrom, beforeEnd.base());
    Changes changes;
    for (auto keyword = afterFrom; keyword != afterEnd.base(); ++keyword) {
        const auto found = left.find(*keyword);
        if (found != left.end() && *found > 0)
            --*found;
        else
            changes.added << *keyword;
    }
    for (auto keyword = beforeFrom; keyword != beforeEnd.base(); ++keyword) {
        const auto found = left.find(*keyword);
        if (*found > 0) {
            --*found;
            changes.removed << *keyword;
        }
    }
    return changes;
}

QStringList KeywordMerge::Merge(const QStringList &base, const QStringList &theirs, const QStringList &mine)
{
    const QHash<QString, qsizetype> inBase = Counts(base.cbegin(), base.cend());
    const QHash<QString, qsizetype> inTheirs = Counts(theirs.cbegin(), theirs.cend());
    const QHash<QString, qsizetype> inMine = Counts(mine.cbegin(), mine.cend());

    // Per keyword: where both sides moved its count the same way, the farther
    // one wins; where they moved it apart, both changes apply.
    QHash<QString, qsizetype> drop;
    for (auto count = inTheirs.cbegin(); count != inTheirs.cend(); ++count) {
        const qsizetype b = inBase.value(count.key()), t = *count, m = inMine.value(count.key());
        const qsizetype kept = t >= b && m >= b ? std::max(t, m)
                             : t <= b && m <= b ? std::min(t, m)
                                                : std::max<qsizetype>(t + m - b, 0);
        if (kept < t)
            drop[count.key()] = t - kept;
    }
    QStringList merged;
    merged.reserve(std::max(theirs.size(), mine.size()));
    for (const QString &keyword : theirs) {
        const auto found = drop.find(keyword);
        if (found != drop.end() && *found > 0)
            --*found;
        else
            merged << keyword;
    }
    // Mine beyond what base and theirs both hold are my additions.
    QHash<QString, qsizetype> seen;
    for (const QString &keyword : mine)
        if (++seen[keyword] > std::max(inBase.value(keyword), inTheirs.value(keyword)))
            merged << keyword;
    return merged;
}
