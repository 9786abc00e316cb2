#include "KeywordStore.h"

#include "KeywordFile.h"
#include "KeywordList.h"
#include "LastSeen.h"
#include "Locations.h"
#include "SafeFile.h"
#include "SaveRecord.h"
#include "SystemReason.h"

namespace {

using Cause = SafeFile::Cause;
using Step = SafeFile::Step;

const QString NothingChanged = QStringLiteral("工作副本和发布副本都没有改动。");

// Shows a keyword in a one-line message, line breaks and NULs included, a long one cut.
QString Quoted(QString keyword)
{
    constexpr qsizetype Shown = 40;
    if (keyword.size() > Shown)
        keyword = keyword.left(Shown) + u'…';
    keyword.replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n")).replace(QChar(u'\0'), QStringLiteral("\\0"));
    return QStringLiteral("“%1”").arg(keyword);
}

QString Unconfirmed(const QString &what, const QString &path, const SafeFile::Error &e)
{
    return QStringLiteral("%1 %2 已替换，但未能确认它已写入磁盘（同步文件夹 %3 时：%4），"
                          "如果系统此时断电，它可能恢复为旧的内容。")
        .arg(what, path, e.path, SystemReason(e.code));
}

// The working copy as it is now; a missing one holds nothing to lose.
bool ReadNow(const SafeFile &file, QByteArray *bytes, bool *exists, SafeFile::Error *failure)
{
    *exists = file.Read(bytes, failure);
    return *exists || (failure->step == Step::Read && SafeFile::Missing(*failure));
}

} // namespace

bool LoadWorkingCopy(const Locations &locations, KeywordList &list, QString *error, LastSeen *seen)
{
    const QString &path = locations.workingCopy;
    SafeFile file(path);
    SafeFile::Error failure;
    QByteArray bytes;
    if (!file.Reach(&failure) || !file.Read(&bytes, &failure)) {
        *error = QStringLiteral("无法读取工作副本 %1：%2。").arg(path, SafeFile::Explain(failure));
        return false;
    }
    KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    if (decoded.utf8) {
        *error = QStringLiteral("工作副本 %1 是 UTF-8 编码（以 UTF-8 字节顺序标记开头），"
                                "本程序需要 GBK 编码。请将它另存为 GBK 编码后再启动。")
                     .arg(path);
        return false;
    }
    if (!decoded.ok) {
        *error = QStringLiteral("工作副本 %1 第 %2 行不是有效的 GBK 编码文本，未作任何修改。"
                                "请将它改为 GBK 编码后再启动。")
                     .arg(path)
                     .arg(decoded.badLine);
        return false;
    }
    if (seen)
        *seen = {bytes};
    list.AppendAll(std::move(decoded.keywords));
    return true;
}

bool EnsureFilterDirectory(const Locations &locations, QString *error)
{
    SafeFile::Error failure;
    if (SafeFile::MakeFolder(locations.filterDirectory, &failure))
        return true;
    *error = QStringLiteral("无法创建过滤目录 %1：%2。").arg(locations.filterDirectory, SafeFile::Explain(failure));
    return false;
}

bool RunStartUp(const Locations &locations, KeywordList &list, QString *error, LastSeen *seen)
{
    // Nothing is read while the way to either copy holds another user's link.
    SafeFile published(locations.publishedCopy);
    SafeFile::Error failure;
    if (!published.Reach(&failure) && failure.cause == Cause::ForeignLink) {
        *error = QStringLiteral("无法启动：发布副本 %1 的路径上，%2。")
                     .arg(locations.publishedCopy, SafeFile::Explain(failure));
        return false;
    }
    return LoadWorkingCopy(locations, list, error, seen) && EnsureFilterDirectory(locations, error);
}

static bool Save(const Locations &locations, KeywordList &list, QString *error, LastSeen *seen,
                 const ChangedQuestion &ask, SaveRecord &record)
{
    const KeywordFile::Encoded encoded = KeywordFile::Encode(list.Texts());
    if (encoded.fault != KeywordFile::Fault::None) {
        const QString keyword = Quoted(list.Text(encoded.badPosition));
        QString problem;
        switch (encoded.fault) {
        case KeywordFile::Fault::LineBreak:
            problem = QStringLiteral("含有换行符");
            break;
        case KeywordFile::Fault::Nul:
            problem = QStringLiteral("含有空字符（NUL）");
            break;
        case KeywordFile::Fault::Unencodable:
            problem = QStringLiteral("含有 GBK 编码无法保存的字符");
            break;
        case KeywordFile::Fault::ReadsAsUtf8:
            problem = QStringLiteral("以“锘”开头，保存后文件的开头恰好是 UTF-8 标记，下次启动时会被当作 "
                                     "UTF-8 文件拒绝读取");
            break;
        case KeywordFile::Fault::None:
            break;
        }
        *error = QStringLiteral("第 %1 个关键字 %2 %3，无法保存。请修改或删除它。")
                     .arg(encoded.badPosition)
                     .arg(keyword, problem)
                 + NothingChanged;
        return false;
    }

    const QString &workingPath = locations.workingCopy;
    const QString &publishedPath = locations.publishedCopy;
    SafeFile working(workingPath);
    SafeFile published(publishedPath);
    SafeFile::Error failure;
    if (!working.Reach(&failure) || !working.Inspect(&failure)) {
        *error = QStringLiteral("无法保存工作副本 %1：%2。").arg(workingPath, SafeFile::Explain(failure)) + NothingChanged;
        return false;
    }
    SafeFile::Error publishFailure;
    bool publishable = published.Reach(&publishFailure) && published.Inspect(&publishFailure);
    if (!publishable
        && (publishFailure.cause == Cause::ForeignLink || publishFailure.cause == Cause::NarrowsReaders)) {
        *error = QStringLiteral("无法发布到 %1：%2。").arg(publishedPath, SafeFile::Explain(publishFailure))
                 + NothingChanged;
        return false;
    }

    // Someone else's save since this list was last seen is not lost unasked.
    // The check is made again under the folder's lock just before the
    // rename, and the question asked again if it has changed once more.
    QStringList texts;
    QByteArray bytes, found;
    bool exists = false, replaced = false, merged = false;
    for (bool again = false;; again = true) {
        texts = list.Texts();
        bytes = encoded.bytes;
        merged = false;
        if (seen) {
            if (!ReadNow(working, &found, &exists, &failure)) {
                *error = QStringLiteral("无法读取工作副本 %1：%2。").arg(workingPath, SafeFile::Explain(failure)) + NothingChanged;
                return false;
            }
            const QStringList base = exists ? KeywordFile::Decode(seen->bytes).keywords : QStringList();
            QStringList before = base;
            if (exists && found != seen->bytes) {
                KeywordFile::Decoded theirs = KeywordFile::Decode(found);
                if (!theirs.ok || theirs.utf8) {
                    *error = QStringLiteral("工作副本 %1 在你打开之后被改动过，而且%2，无法与你的修改合并。"
                                            "请把它改为 GBK 编码，或把它移走，再保存。")
                                 .arg(workingPath,
                                      theirs.utf8 ? QStringLiteral("它是 UTF-8 编码")
                                                  : QStringLiteral("它的第 %1 行不是有效的 GBK 编码文本").arg(theirs.badLine))
                             + NothingChanged;
                    return false;
                }
                const KeywordMerge::Changes changes = KeywordMerge::Compare(base, theirs.keywords);
                if (!changes.IsEmpty()) {
                    const OnChange choice = ask ? ask(workingPath, changes) : OnChange::Merge;
                    if (choice == OnChange::Cancel)
                        return false;
                    merged = choice == OnChange::Merge;
                    if (merged) {
                        texts = KeywordMerge::Merge(base, theirs.keywords, texts);
                        bytes = KeywordFile::Encode(texts).bytes;
                    }
                    again = true;
                }
                before = std::move(theirs.keywords);
            }
            record.changes = KeywordMerge::Compare(before, texts);
            record.counted = true;
        }
        // Asked or tried before, the copies may have been replaced meanwhile.
        if (again && !working.Inspect(&failure)) {
            *error = QStringLiteral("无法保存工作副本 %1：%2。").arg(workingPath, SafeFile::Explain(failure)) + NothingChanged;
            return false;
        }
        if (again && publishable)
            publishable = published.Inspect(&publishFailure);
        const auto unchanged = [&] {
            QByteArray now;
            bool stillExists = false;
            SafeFile::Error ignored;
            return ReadNow(working, &now, &stillExists, &ignored) && stillExists == exists && now == found;
        };
        replaced = working.Replace(bytes, &failure, seen ? std::function<bool()>(unchanged) : nullptr);
        if (replaced || failure.cause != Cause::Changed)
            break;
    }

    // The published copy is never newer than the working copy.
    QString unconfirmed;
    if (!replaced) {
        if (failure.step != Step::Confirm) {
            *error = QStringLiteral("无法保存工作副本 %1：%2。").arg(workingPath, SafeFile::Explain(failure))
                     + NothingChanged;
            return false;
        }
        unconfirmed = Unconfirmed(QStringLiteral("工作副本"), workingPath, failure);
    }
    record.workingWritten = true;
    if (seen)
        *seen = {bytes};
    if (merged) {
        list.Clear();
        list.AppendAll(texts);
    }
    const bool publishedWhole = publishable && published.Replace(bytes, &publishFailure);
    record.publishedWritten = publishedWhole || (publishable && publishFailure.step == Step::Confirm);
    if (!publishedWhole) {
        if (record.publishedWritten) {
            unconfirmed += Unconfirmed(QStringLiteral("发布副本"), publishedPath, publishFailure);
        } else {
            *error = unconfirmed
                     + QStringLiteral("工作副本 %1 已保存，但无法发布到 %2：%3。发布副本没有被替换。")
                           .arg(workingPath, publishedPath, SafeFile::Explain(publishFailure));
            return false;
        }
    }
    if (unconfirmed.isEmpty())
        return true;
    *error = unconfirmed;
    return false;
}

bool SaveAndPublish(const Locations &locations, KeywordList &list, QString *error, LastSeen *seen,
                    const ChangedQuestion &ask)
{
    SaveRecord record;
    record.workingPath = locations.workingCopy;
    record.publishedPath = locations.publishedCopy;
    error->clear();
    const bool saved = Save(locations, list, error, seen, ask, record);
    record.result = saved ? SaveRecord::Result::Saved
                    : error->isEmpty() ? SaveRecord::Result::Cancelled : SaveRecord::Result::Failed;
    record.reason = *error;
    record.Send();
    return saved;
}
