#include "ShownKeywordList.h"

#include "KeywordDelegate.h"
#include "KeywordDisplay.h"

QVariant ShownKeywordList::data(const QModelIndex &index, int role) const
{
    if (role != Qt::AccessibleTextRole)
        return KeywordList::data(index, role);
    const QVariant keyword = KeywordList::data(index, Qt::DisplayRole);
    return keyword.isValid() ? KeywordDisplay::Shown(keyword.toString(), KeywordDelegate::ShownLength) : keyword;
}
