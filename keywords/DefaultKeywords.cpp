#include "DefaultKeywords.h"

#include "KeywordList.h"

QStringList DefaultKeywords()
{
    return {QStringLiteral("'"),      QStringLiteral("*"),      QStringLiteral("%"),      QStringLiteral("and"),
            QStringLiteral("exec"),   QStringLiteral("insert"), QStringLiteral("select"), QStringLiteral("delete"),
            QStringLiteral("updata"), QStringLiteral("count"),  QStringLiteral("chr"),    QStringLiteral("mid")};
}

void RestoreDefaults(KeywordList &list)
{
    list.Clear();
    for (const QString &keyword : DefaultKeywords())
        list.Append(keyword);
}
