#include "Save.h"

#include "KeywordDisplay.h"
#include "KeywordFile.h"
#include "system/SystemReason.h"

#include <chrono>

namespace {

using Cause = SafeFile::Cause;
using Step = SafeFile::Step;

const QString NothingChanged = QStringLiteral("工作副本和发布副本都没有改动。");
// How much of a keyword a one-line message shows.
constexpr qsizetype Quoted = 40;

QString Unconfirmed(const QString &what, const QString &path, const SafeFile::Error &e)
{
    return QStringLiteral("%1 %2 已替换，但未能确认它已写入磁盘（同步文件夹 %3 时：%4），"
                          "如果系统此时断电，它可能恢复为旧的内容。")
            .arg(what, path, e.path, SystemReason(e.code));
}

// What keeps someone else's working copy from being merged, and what to do.
QString Unmergeable(const KeywordFile::Decoded &theirs)
{
    switch (theirs.fault) {
    case KeywordFile::Fault::Utf8:
        return QStringLiteral("它是 UTF-8 编码，无法与你的修改合并。请把它改为 GBK 编码，或把它移走，再保存");
    case KeywordFile::Fault::TooMany:
        return QStringLiteral("它有 %1 个关键字（行），超过了本程序的上限 %2 个，无法与你的修改合并。"
                              "请删去其中多余的行（例如大量空行），或把它移走，再保存")
                .arg(QString::number(theirs.line), QString::number(KeywordFile::MaxKeywords));
    default:
        return QStringLiteral("它的第 %1 行不是有效的 GBK 编码文本，无法与你的修改合并。请把它改为 GBK "
                              "编码，或把它移走，再保存")
                .arg(theirs.line);
    }
}

// The working copy as it is now; a missing one holds nothing to lose.
bool ReadNow(const SafeFile &file, QByteArray *bytes, bool *exists, SafeFile::Error *failure)
{
    *exists = file.Read(bytes, failure);
    return *exists || (failure->step == Step::Read && SafeFile::Missing(*failure));
}

} // namespace

Save::Save(KeywordStore &store, const QStringList &keywords, const Person &person, SaveRecord &record)
    : m_store(store)
    , m_at(store.m_at)
    , m_mine(keywords)
    , m_person(person)
    , m_record(record)
    , m_working(m_at.workingCopy)
    , m_published(m_at.publishedCopy)
{
}

SaveResult Save::Run()
{
    if (!Encode(m_mine) || !ReachBothCopies())
        return m_result;
    m_mineBytes = m_bytes;
    // Someone else's save since this list was last seen is not lost unasked,
    // and one that lands before the lock is taken is met by asking again.
    // From the last look at the working copy to the published copy's rename,
    // saves take turns: neither replaces what the other's look missed, and
    // the published copy is never older than the working copy.
    for (;;) {
        if (!Reconcile() || !TakeTheLock())
            return m_result;
        const Written written = InspectBothCopies() ? WriteWorkingCopy() : Written::Failed;
        if (written == Written::Done)
            break;
        m_working.Unlock();
        if (written == Written::Failed)
            return m_result;
        m_inspectAgain = true;
        ++m_passCount;
        // Someone who keeps changing the file must not keep the save going:
        // the passes after the first may take SaveWait, the questions left out.
        if (!m_retrying.isValid()) {
            m_retrying.start();
            m_asking = 0;
        } else if (m_retrying.elapsed() - m_asking > std::chrono::milliseconds(SaveWait).count()) {
            Fail(QStringLiteral("无法保存工作副本 %1：保存期间它被别的程序改动了 %2 次，%3 秒后仍在改动。"
                                "请稍后再保存，你的修改仍在窗口中。")
                         .arg(m_at.workingCopy, QString::number(m_passCount), QString::number(SaveWait.count()))
                 + NothingChanged);
            return m_result;
        }
    }
    const Published published = Publish();
    m_working.Unlock();
    if (published == Published::Refused)
        Fail(m_unconfirmed
             + QStringLiteral("工作副本 %1 已保存，但无法发布到 %2：%3。发布副本没有被替换。")
                       .arg(m_at.workingCopy, m_at.publishedCopy, SafeFile::Explain(m_publishFailure)));
    else if (!m_unconfirmed.isEmpty())
        Fail(m_unconfirmed);
    return m_result;
}

bool Save::Fail(const QString &message)
{
    m_result.outcome = StoreResult::Outcome::Failed;
    m_result.message = message;
    return false;
}

bool Save::Cancel()
{
    m_result.outcome = StoreResult::Outcome::Cancelled;
    return false;
}

// Sets what this save writes, unless the file could not hold it faithfully.
bool Save::Encode(const QStringList &keywords, bool merged)
{
    KeywordFile::Encoded encoded = KeywordFile::Encode(keywords);
    if (encoded.fault == KeywordFile::Fault::TooMany)
        return Fail(
                (merged ? QStringLiteral("与工作副本 %1 中别人的改动合并后，").arg(m_at.workingCopy) : QString())
                + QStringLiteral("列表有 %1 个关键字，超过了本程序的上限 %2 个，无法保存。请删去一些关键字后再保存。")
                          .arg(QString::number(encoded.position), QString::number(KeywordFile::MaxKeywords))
                + NothingChanged);
    if (encoded.fault != KeywordFile::Fault::None) {
        const QString keyword = QStringLiteral("第 %1 个关键字 %2 %3")
                                        .arg(QString::number(encoded.position),
                                             KeywordDisplay::Quoted(keywords.at(encoded.position - 1), Quoted),
                                             KeywordFile::FaultText(encoded.fault));
        if (merged)
            return Fail(QStringLiteral("与工作副本 %1 中别人的改动合并后，%2，无法保存。"
                                       "请选择覆盖，或先在工作副本中修改这个关键字。")
                                .arg(m_at.workingCopy, keyword)
                        + NothingChanged);
        return Fail(keyword + QStringLiteral("，无法保存。请修改或删除它。") + NothingChanged);
    }
    m_texts = keywords;
    m_bytes = std::move(encoded.bytes);
    return true;
}

bool Save::ReachBothCopies()
{
    SafeFile::Error failure;
    if (!m_working.Reach(&failure) || !m_working.Inspect(&failure))
        return FailWorking(failure);
    m_publishable = m_published.Reach(&m_publishFailure) && m_published.Inspect(&m_publishFailure);
    return !PublishedCopyRefused();
}

// Once time has passed, the copies may have been replaced meanwhile: they are
// judged again, as the first pass judged them, before anything is written.
bool Save::InspectBothCopies()
{
    if (!m_inspectAgain)
        return true;
    SafeFile::Error failure;
    if (!m_working.Inspect(&failure))
        return FailWorking(failure);
    if (m_publishable)
        m_publishable = m_published.Inspect(&m_publishFailure);
    return !PublishedCopyRefused();
}

// A published copy out of reach for another reason still lets the working
// copy be saved, and Publish tells why it was not published; another user's
// link on the way, or a copy whose readers the save would shut out, stops
// the save before anything is written.
bool Save::PublishedCopyRefused()
{
    if (m_publishable
        || (m_publishFailure.cause != Cause::ForeignLink && m_publishFailure.cause != Cause::NarrowsReaders))
        return false;
    Fail(QStringLiteral("无法发布到 %1：%2。").arg(m_at.publishedCopy, SafeFile::Explain(m_publishFailure))
         + NothingChanged);
    return true;
}

// Reads the working copy as it is now and, when someone else has changed its
// keywords since the store last saw them, asks whether to merge with their
// changes, overwrite them, or cancel. Notes what this save will change.
bool Save::Reconcile()
{
    m_texts = m_mine;
    m_bytes = m_mineBytes;
    m_merged = false;
    SafeFile::Error failure;
    if (!ReadNow(m_working, &m_found, &m_exists, &failure))
        return Fail(QStringLiteral("无法读取工作副本 %1：%2。").arg(m_at.workingCopy, SafeFile::Explain(failure))
                    + NothingChanged);
    const QByteArray &seen = m_store.m_seen;
    const QStringList base = m_exists ? KeywordFile::Decode(seen).keywords : QStringList();
    QStringList before = base;
    if (m_exists && m_found != seen) {
        KeywordFile::Decoded theirs = KeywordFile::Decode(m_found);
        if (theirs.fault != KeywordFile::Fault::None)
            return Fail(QStringLiteral("工作副本 %1 在你打开之后被改动过，而且%2。")
                                .arg(m_at.workingCopy, Unmergeable(theirs))
                        + NothingChanged);
        const KeywordMerge::Changes changes = KeywordMerge::Compare(base, theirs.keywords);
        if (!changes.IsEmpty()) {
            QElapsedTimer asking;
            asking.start();
            const OnChange choice = m_person.ask ? m_person.ask(m_at.workingCopy, changes) : OnChange::Merge;
            m_asking += asking.elapsed();
            if (choice == OnChange::Cancel)
                return Cancel();
            m_inspectAgain = true;
            m_merged = choice == OnChange::Merge;
            // Their list may hold what this program does not write.
            if (m_merged && !Encode(KeywordMerge::Merge(base, theirs.keywords, m_mine), true))
                return false;
        }
        before = std::move(theirs.keywords);
    }
    m_record.changes = KeywordMerge::Compare(before, m_texts);
    m_record.counted = true;
    return true;
}

bool Save::TakeTheLock()
{
    SafeFile::Error failure;
    const auto waiting = [this](const SafeFile::Error &busy) {
        return !m_person.waiting || m_person.waiting(SafeFile::Holder(busy));
    };
    if (m_working.Lock(SaveWait, &failure, waiting))
        return true;
    if (failure.cause == Cause::GaveUp)
        return Cancel();
    if (failure.cause != Cause::Busy)
        return FailWorking(failure);
    return Fail(QStringLiteral("无法保存工作副本 %1：%2，等了 %3 秒仍未结束。请稍后再保存，你的修改仍在窗口中。")
                        .arg(m_at.workingCopy, SafeFile::Explain(failure), QString::number(SaveWait.count()))
                + NothingChanged);
}

// Replaces the working copy, unless it has changed since Reconcile read it.
Save::Written Save::WriteWorkingCopy()
{
    const auto unchanged = [this] {
        QByteArray now;
        bool exists = false;
        SafeFile::Error ignored;
        return ReadNow(m_working, &now, &exists, &ignored) && exists == m_exists && now == m_found;
    };
    SafeFile::Error failure;
    if (m_working.Replace(m_bytes, &failure, unchanged, SaveWait)) {
        Saved();
        return Written::Done;
    }
    if (failure.cause == Cause::Changed)
        return Written::ChangedMeanwhile;
    if (failure.step != Step::Confirm) {
        FailWorking(failure);
        return Written::Failed;
    }
    m_unconfirmed = Unconfirmed(QStringLiteral("工作副本"), m_at.workingCopy, failure);
    Saved();
    return Written::Done;
}

// The working copy holds the new list: what the store saw, and the caller's
// list after a merge, follow.
void Save::Saved()
{
    m_record.workingWritten = true;
    m_record.workingTightened = m_working.Tightened();
    m_store.m_seen = m_bytes;
    if (m_merged)
        m_result.merged = m_texts;
}

// The very bytes of the working copy, never before it is saved.
Save::Published Save::Publish()
{
    SafeFile::Error open;
    if (m_publishable && m_published.FolderOpenToOthers(&open))
        m_result.warning = QStringLiteral("注意：") + SafeFile::Explain(open) + u'。';
    const bool replaced = m_publishable && m_published.Replace(m_bytes, &m_publishFailure, {}, SaveWait);
    if (!replaced && (!m_publishable || m_publishFailure.step != Step::Confirm))
        return Published::Refused;
    m_record.publishedWritten = true;
    m_record.publishedTightened = m_published.Tightened();
    if (replaced)
        return Published::Whole;
    m_unconfirmed += Unconfirmed(QStringLiteral("发布副本"), m_at.publishedCopy, m_publishFailure);
    return Published::Unconfirmed;
}

bool Save::FailWorking(const SafeFile::Error &failure)
{
    return Fail(QStringLiteral("无法保存工作副本 %1：%2。").arg(m_at.workingCopy, SafeFile::Explain(failure))
                + NothingChanged);
}
