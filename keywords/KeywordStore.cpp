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

// One save, in the order its steps run; each step that fails says why in
// the words the user sees and ends the save.
class Save
{
public:
    Save(const Locations &at, KeywordList &list, LastSeen *seen, const ChangedQuestion &ask, SaveRecord &record)
        : m_at(at), m_list(list), m_seen(seen), m_ask(ask), m_record(record),
          m_working(at.workingCopy), m_published(at.publishedCopy)
    {
    }

    // False with an empty error when the user cancelled.
    bool Run(QString *error)
    {
        m_error = error;
        if (!RefuseWhatTheFileCannotHold(m_list.Texts()) || !ReachBothCopies())
            return false;
        m_mine = m_texts;
        m_mineBytes = m_bytes;
        // Someone else's save since this list was last seen is not lost
        // unasked, and one that lands before the lock is taken is met by
        // asking again. From the last look at the working copy to the
        // published copy's rename, saves take turns: neither replaces what
        // the other's look missed, and the published copy is never older
        // than the working copy.
        for (;;) {
            if (!Reconcile() || !TakeTheLock())
                return false;
            const Written written = WriteWorkingCopy();
            if (written == Written::Failed)
                return false;
            if (written == Written::Done)
                break;
            m_working.Unlock();
        }
        const bool published = Publish();
        m_working.Unlock();
        return published;
    }

private:
    enum class Written { Done, Failed, ChangedMeanwhile };

    bool Fail(const QString &error)
    {
        *m_error = error;
        return false;
    }

    // Sets what this save writes, unless the file could not hold it faithfully.
    bool RefuseWhatTheFileCannotHold(const QStringList &texts, bool merged = false)
    {
        const KeywordFile::Encoded encoded = KeywordFile::Encode(texts);
        if (encoded.fault != KeywordFile::Fault::None) {
            const QString keyword = QStringLiteral("第 %1 个关键字 %2 %3")
                                        .arg(QString::number(encoded.badPosition),
                                             Quoted(texts.at(encoded.badPosition - 1)),
                                             KeywordFile::FaultText(encoded.fault));
            if (merged)
                return Fail(QStringLiteral("与工作副本 %1 中别人的改动合并后，%2，无法保存。"
                                           "请选择覆盖，或先在工作副本中修改这个关键字。")
                                .arg(m_at.workingCopy, keyword)
                            + NothingChanged);
            return Fail(keyword + QStringLiteral("，无法保存。请修改或删除它。") + NothingChanged);
        }
        m_texts = texts;
        m_bytes = encoded.bytes;
        return true;
    }

    bool ReachBothCopies()
    {
        SafeFile::Error failure;
        if (!m_working.Reach(&failure) || !m_working.Inspect(&failure))
            return FailWorking(failure);
        // A published copy that is out of reach for another reason still lets
        // the working copy be saved; Publish tells why it was not published.
        m_publishable = m_published.Reach(&m_publishFailure) && m_published.Inspect(&m_publishFailure);
        if (!m_publishable
            && (m_publishFailure.cause == Cause::ForeignLink || m_publishFailure.cause == Cause::NarrowsReaders))
            return Fail(QStringLiteral("无法发布到 %1：%2。").arg(m_at.publishedCopy, SafeFile::Explain(m_publishFailure))
                        + NothingChanged);
        return true;
    }

    // Reads the working copy as it is now and, when someone else has changed
    // its keywords since they were last seen, asks whether to merge with their
    // changes, overwrite them, or cancel. Notes what this save will change.
    bool Reconcile()
    {
        m_texts = m_mine;
        m_bytes = m_mineBytes;
        if (!m_seen)
            return true;
        SafeFile::Error failure;
        if (!ReadNow(m_working, &m_found, &m_exists, &failure))
            return Fail(QStringLiteral("无法读取工作副本 %1：%2。").arg(m_at.workingCopy, SafeFile::Explain(failure))
                        + NothingChanged);
        m_merged = false;
        const QStringList base = m_exists ? KeywordFile::Decode(m_seen->bytes).keywords : QStringList();
        QStringList before = base;
        if (m_exists && m_found != m_seen->bytes) {
            KeywordFile::Decoded theirs = KeywordFile::Decode(m_found);
            if (!theirs.ok || theirs.utf8)
                return Fail(QStringLiteral("工作副本 %1 在你打开之后被改动过，而且%2，无法与你的修改合并。"
                                           "请把它改为 GBK 编码，或把它移走，再保存。")
                                .arg(m_at.workingCopy,
                                     theirs.utf8 ? QStringLiteral("它是 UTF-8 编码")
                                                 : QStringLiteral("它的第 %1 行不是有效的 GBK 编码文本").arg(theirs.badLine))
                            + NothingChanged);
            const KeywordMerge::Changes changes = KeywordMerge::Compare(base, theirs.keywords);
            if (!changes.IsEmpty()) {
                const OnChange choice = m_ask ? m_ask(m_at.workingCopy, changes) : OnChange::Merge;
                if (choice == OnChange::Cancel)
                    return false;
                m_asked = true;
                m_merged = choice == OnChange::Merge;
                // Their list may hold what this program does not write.
                if (m_merged && !RefuseWhatTheFileCannotHold(KeywordMerge::Merge(base, theirs.keywords, m_texts), true))
                    return false;
            }
            before = std::move(theirs.keywords);
        }
        m_record.changes = KeywordMerge::Compare(before, m_texts);
        m_record.counted = true;
        return true;
    }

    bool TakeTheLock()
    {
        SafeFile::Error failure;
        if (m_working.Lock(SaveWait, &failure))
            return true;
        if (failure.cause != Cause::Busy)
            return FailWorking(failure);
        return Fail(QStringLiteral("无法保存工作副本 %1：%2，等了 %3 秒仍未结束。请稍后再保存，你的修改仍在窗口中。")
                        .arg(m_at.workingCopy, SafeFile::Explain(failure), QString::number(SaveWait.count()))
                    + NothingChanged);
    }

    // Replaces the working copy, unless it has changed since Reconcile read it.
    Written WriteWorkingCopy()
    {
        SafeFile::Error failure;
        // Asked or tried before, the copies may have been replaced meanwhile.
        if (m_asked && !m_working.Inspect(&failure)) {
            FailWorking(failure);
            return Written::Failed;
        }
        if (m_asked && m_publishable)
            m_publishable = m_published.Inspect(&m_publishFailure);
        const auto unchanged = [this] {
            QByteArray now;
            bool exists = false;
            SafeFile::Error ignored;
            return ReadNow(m_working, &now, &exists, &ignored) && exists == m_exists && now == m_found;
        };
        if (m_working.Replace(m_bytes, &failure, m_seen ? std::function<bool()>(unchanged) : nullptr)) {
            Saved();
            return Written::Done;
        }
        if (failure.cause == Cause::Changed) {
            m_asked = true;
            return Written::ChangedMeanwhile;
        }
        if (failure.step != Step::Confirm) {
            FailWorking(failure);
            return Written::Failed;
        }
        m_unconfirmed = Unconfirmed(QStringLiteral("工作副本"), m_at.workingCopy, failure);
        Saved();
        return Written::Done;
    }

    // The working copy holds the new list: the window and what it last saw follow.
    void Saved()
    {
        m_record.workingWritten = true;
        if (m_seen)
            *m_seen = {m_bytes};
        if (m_merged) {
            m_list.Clear();
            m_list.AppendAll(m_texts);
        }
    }

    // The very bytes of the working copy, never before it is saved.
    bool Publish()
    {
        const bool whole = m_publishable && m_published.Replace(m_bytes, &m_publishFailure);
        m_record.publishedWritten = whole || (m_publishable && m_publishFailure.step == Step::Confirm);
        if (!whole && m_record.publishedWritten)
            m_unconfirmed += Unconfirmed(QStringLiteral("发布副本"), m_at.publishedCopy, m_publishFailure);
        else if (!whole)
            return Fail(m_unconfirmed
                        + QStringLiteral("工作副本 %1 已保存，但无法发布到 %2：%3。发布副本没有被替换。")
                              .arg(m_at.workingCopy, m_at.publishedCopy, SafeFile::Explain(m_publishFailure)));
        return m_unconfirmed.isEmpty() || Fail(m_unconfirmed);
    }

    bool FailWorking(const SafeFile::Error &failure)
    {
        return Fail(QStringLiteral("无法保存工作副本 %1：%2。").arg(m_at.workingCopy, SafeFile::Explain(failure))
                    + NothingChanged);
    }

    const Locations &m_at;
    KeywordList &m_list;
    LastSeen *m_seen;
    const ChangedQuestion &m_ask;
    SaveRecord &m_record;
    QString *m_error = nullptr;

    SafeFile m_working;
    SafeFile m_published;
    bool m_publishable = false;
    SafeFile::Error m_publishFailure;

    QStringList m_mine; // the window's list
    QByteArray m_mineBytes;
    QStringList m_texts; // what this save writes: the window's list, or merged with theirs
    QByteArray m_bytes;
    bool m_merged = false;
    bool m_asked = false; // or tried: the copies may have changed meanwhile
    QByteArray m_found;   // the working copy as Reconcile read it
    bool m_exists = false;
    QString m_unconfirmed;
};

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

bool SaveAndPublish(const Locations &locations, KeywordList &list, QString *error, LastSeen *seen,
                    const ChangedQuestion &ask)
{
    SaveRecord record;
    record.workingPath = locations.workingCopy;
    record.publishedPath = locations.publishedCopy;
    error->clear();
    const bool saved = Save(locations, list, seen, ask, record).Run(error);
    record.result = saved ? SaveRecord::Result::Saved
                    : error->isEmpty() ? SaveRecord::Result::Cancelled : SaveRecord::Result::Failed;
    record.reason = *error;
    record.Send();
    return saved;
}
