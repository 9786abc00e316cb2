#include "KeywordStore.h"

#include "KeywordFile.h"
#include "KeywordList.h"
#include "Save.h"
#include "SaveRecord.h"
#include "system/SafeFile.h"

#include <QFileInfo>

StoreResult KeywordStore::StartUp(KeywordList &list)
{
    // Nothing is read while the way to either copy holds another user's link.
    SafeFile published(m_at.publishedCopy);
    SafeFile::Error failure;
    if (!published.Reach(&failure) && failure.cause == SafeFile::Cause::ForeignLink)
        return StoreResult::Failure(QStringLiteral("无法启动：发布副本 %1 的路径上，%2。")
                                            .arg(m_at.publishedCopy, SafeFile::Explain(failure)));
    StoreResult loaded = LoadWorkingCopy(list);
    return loaded.Done() ? EnsureFilterDirectory() : loaded;
}

StoreResult KeywordStore::LoadWorkingCopy(KeywordList &list)
{
    const QString &path = m_at.workingCopy;
    SafeFile file(path);
    SafeFile::Error failure;
    QByteArray bytes;
    if (!file.Reach(&failure) || !file.Read(&bytes, &failure)) {
        QString wayOut;
        if (SafeFile::Missing(failure))
            wayOut = QFileInfo::exists(m_at.publishedCopy)
                           ? QStringLiteral(
                                     "发布副本 %1 还在，其中是上次保存的列表：可以执行“%2”把它复制回来，再启动本程序。")
                                     .arg(m_at.publishedCopy, SafeFile::CopyCommand(m_at.publishedCopy, path))
                           : QStringLiteral("重新安装本程序会放回默认的关键字列表。");
        return StoreResult::Failure(QStringLiteral("无法读取工作副本 %1：%2。").arg(path, SafeFile::Explain(failure))
                                    + wayOut);
    }
    KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    switch (decoded.fault) {
    case KeywordFile::Fault::None:
        break;
    case KeywordFile::Fault::TooMany:
        return StoreResult::Failure(
                QStringLiteral("工作副本 %1 有 %2 个关键字（行），超过了本程序的上限 %3 个，所以没有打开它。"
                               "请检查这个文件是否正确（例如是否有大量空行），删去多余的行后再启动。")
                        .arg(path, QString::number(decoded.line), QString::number(KeywordFile::MaxKeywords)));
    case KeywordFile::Fault::Utf8:
        return StoreResult::Failure(QStringLiteral("工作副本 %1 是 UTF-8 编码（以 UTF-8 字节顺序标记开头），"
                                                   "本程序需要 GBK 编码。请将它另存为 GBK 编码后再启动。")
                                            .arg(path));
    default:
        return StoreResult::Failure(QStringLiteral("工作副本 %1 第 %2 行不是有效的 GBK 编码文本，未作任何修改。"
                                                   "请将它改为 GBK 编码后再启动。")
                                            .arg(path)
                                            .arg(decoded.line));
    }
    m_seen = std::move(bytes);
    list.AppendAll(std::move(decoded.keywords));
    return {};
}

StoreResult KeywordStore::EnsureFilterDirectory()
{
    SafeFile::Error failure;
    if (SafeFile::MakeFolder(m_at.filterDirectory, &failure))
        return {};
    return StoreResult::Failure(
            QStringLiteral("无法创建过滤目录 %1：%2。").arg(m_at.filterDirectory, SafeFile::Explain(failure)));
}

SaveResult KeywordStore::SaveAndPublish(const QStringList &keywords, const ChangedQuestion &ask,
                                        const WaitingNotice &waiting)
{
    SaveRecord record{.workingPath = m_at.workingCopy, .publishedPath = m_at.publishedCopy};
    SaveResult result = Save(*this, keywords, {ask, waiting}, record).Run();
    switch (result.outcome) {
    case StoreResult::Outcome::Done:
        record.result = SaveRecord::Result::Saved;
        break;
    case StoreResult::Outcome::Cancelled:
        record.result = SaveRecord::Result::Cancelled;
        break;
    case StoreResult::Outcome::Failed:
        record.result = SaveRecord::Result::Failed;
        break;
    }
    record.reason = result.message;
    record.Send();
    return result;
}
