#pragma once

#include "KeywordList.h"

// The keyword list as the window shows it: a screen reader reads each row
// in its display form (KeywordDisplay), so that keywords that differ by a
// character that shows as nothing or as another do not sound alike.
class ShownKeywordList : public KeywordList
{
    Q_OBJECT

public:
    using KeywordList::KeywordList;

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
};
