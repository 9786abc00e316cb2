#include "KeywordRefusal.h"

#include "KeywordFile.h"

QString KeywordRefusal(const QString &keyword)
{
    const KeywordFile::Fault fault = KeywordFile::Check(keyword);
    if (fault == KeywordFile::Fault::None)
        return {};
    return QStringLiteral("关键字%1，无法保存。").arg(KeywordFile::FaultText(fault));
}
