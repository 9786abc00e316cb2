#include "KeywordRefusal.h"

#include "KeywordFile.h"

QString KeywordRefusal(const QString &keyword)
{
    switch (KeywordFile::Check(keyword)) {
    case KeywordFile::Fault::LineBreak:
        return QStringLiteral("关键字不能包含换行符。");
    case KeywordFile::Fault::Nul:
        return QStringLiteral("关键字不能包含空字符（NUL）。");
    case KeywordFile::Fault::Unencodable:
        return QStringLiteral("关键字含有无法保存的字符。");
    case KeywordFile::Fault::ReadsAsUtf8:
        return QStringLiteral("关键字以“锘”开头，保存后文件的开头恰好是 UTF-8 标记，下次启动时会被当作 UTF-8 文件拒绝读取。");
    case KeywordFile::Fault::None:
        break;
    }
    return {};
}
