#pragma once

#include <QStringList>

// How one keyword list became another, and how two people's edits of one list
// come together. A keyword may stand in a list more than once; each
// occurrence counts.
class KeywordMerge
{
public:
    struct Changes
    {
        QStringList added;   // in the order of the new list
        QStringList removed; // in the order of the old list
        bool IsEmpty() const { return added.isEmpty() && removed.isEmpty(); }
    };
    static Changes Compare(const QStringList &before, const QStringList &after);

    // Both sides' changes to base: theirs in their order, what they added kept
    // and what they removed left out, unless mine added it again; then what
    // mine removed taken out, the earliest first, and what mine added appended
    // in my order. A change both sides made counts once.
    static QStringList Merge(const QStringList &base, const QStringList &theirs, const QStringList &mine);
};
