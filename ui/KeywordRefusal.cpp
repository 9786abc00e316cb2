#include "KeywordRefusal.h"

#include "KeywordFile.h"

QString KeywordRefusal(const QString &keyword, qsizetype position)
{
    const KeywordFile::Fault fault = KeywordFile::Check(keyword, position);
    if (fault == KeywordFile::Fault::None)
        return {};
    return QStringLiteral("关键字%1，无法保存。").arg(KeywordFile::FaultText(fault));
}
