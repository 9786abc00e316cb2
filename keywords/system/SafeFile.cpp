#include "SafeFile.h"

#include "SafeFilePlatform.h"
#include "SystemReason.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <thread>

namespace SafeFilePlatform {

Reading ReadWhole(qint64 expectedSize, const std::function<qint64(char *, qint64)> &readSome, QByteArray *bytes)
{
    constexpr qint64 Limit = SafeFile::MaxSize;
    if (expectedSize > Limit)
        return Reading::TooLarge;
    // One byte more than expected, so that the end is found without growing.
    QByteArray data(qMax<qsizetype>(qsizetype(expectedSize) + 1, 4096), Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used > Limit)
            return Reading::TooLarge;
        if (used == data.size())
            data.resize(qMin<qsizetype>(data.size() * 2, Limit + 1));
        const qint64 got = readSome(data.data() + used, data.size() - used);
        if (got < 0)
            return Reading::Failed;
        if (got == 0)
            break;
        used += qsizetype(got);
    }
    data.truncate(used);
    *bytes = std::move(data);
    return Reading::Done;
}

Attempt TakeWithin(std::chrono::milliseconds wait, const std::function<Attempt()> &take,
                   const std::function<bool()> &keepWaiting)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const Attempt attempt = take();
        if (attempt != Attempt::Busy || std::chrono::steady_clock::now() >= deadline)
            return attempt;
        if (!keepWaiting())
            return Attempt::GaveUp;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

QString LeftoverName(const QString &name, qint64 processId, bool old)
{
    return u'.' + name + u'.' + QString::number(processId)
         + (old ? QStringLiteral(".old.tmp") : QStringLiteral(".tmp"));
}

QString LockName(const QString &name)
{
    return u'.' + name + QStringLiteral(".lock");
}

qint64 LeftoverProcess(QStringView entry, QStringView name)
{
    const QString prefix = u'.' + name.toString() + u'.';
    if (!entry.startsWith(prefix) || !entry.endsWith(u".tmp"))
        return 0;
    QStringView digits = entry.sliced(prefix.size()).chopped(4);
    if (digits.endsWith(u".old"))
        digits.chop(4);
    if (digits.isEmpty() || digits.size() > 9
        || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return 0;
    return digits.toLongLong();
}

} // namespace SafeFilePlatform

using namespace SafeFilePlatform;

bool SafeFile::Missing(const Error &e)
{
    return e.cause == Cause::System && Classify(e.code) == Failure::NotThere;
}

namespace {

// Why a step failed with a system error code.
QString ExplainSystem(const SafeFile::Error &e, const QString &me, const Words &words)
{
    using Step = SafeFile::Step;
    const Failure failure = Classify(e.code);
    if (e.step == Step::Reach && failure == Failure::NotAFolder)
        return QStringLiteral("%1 不是文件夹。这里需要一个文件夹：请把它移走或改名").arg(e.path);
    if (e.step == Step::Reach && failure == Failure::NotThere)
        return QStringLiteral("文件夹 %1 不存在").arg(e.path);
    if ((e.step == Step::Read || e.step == Step::Inspect) && failure == Failure::AFolder)
        return QStringLiteral("这是一个文件夹，不是文件。请把这个文件夹移走或改名（它里面的文件不受影响），"
                              "再把关键字文件放在这里");
    if (e.step == Step::Read && failure == Failure::Denied) {
        const QString cannot = QStringLiteral("你（用户 %1）不能读取它").arg(me);
        if (!e.group.isEmpty())
            return cannot
                 + QStringLiteral("。%1 组的成员可以读取它：请管理员执行“%2”，你重新登录后再试")
                           .arg(e.group, words.addToGroup.arg(e.group, me));
        return cannot + QStringLiteral("：%1。请管理员给你读取它的权限").arg(SystemReason(e.code));
    }
    if (e.step == Step::Create && failure == Failure::Denied) {
        const QString cannot = QStringLiteral("你（用户 %1）不能在文件夹 %2 中写入。").arg(me, e.path);
        constexpr int GroupMayWrite = 020;
        if (e.mode & GroupMayWrite && !e.group.isEmpty())
            return cannot
                 + QStringLiteral("只有 %1 组的成员可以在这里保存：请管理员执行“%2”，你重新登录后即可保存")
                           .arg(e.group, words.addToGroup.arg(e.group, me));
        return cannot + QStringLiteral("请管理员给你这个文件夹的写入权限");
    }
    if (e.step == Step::Create)
        return QStringLiteral("无法在文件夹 %1 中创建新文件：%2").arg(e.path, SystemReason(e.code));
    if (e.step == Step::Rename && failure == Failure::HeldOpen)
        return QStringLiteral("%1 正被%2打开，而且它不允许别人替换这个文件，等了 %3 秒仍是这样（%4）。请关闭它后再保存")
                .arg(e.path, e.owner.isEmpty() ? QStringLiteral("另一个程序") : e.owner, QString::number(e.number),
                     SystemReason(e.code));
    if (e.step == Step::Rename && failure == Failure::MountedAlone)
        return QStringLiteral("%1 是单独挂载的文件（挂载点），不能用新文件替换它。请改为挂载它所在的文件夹")
                .arg(e.path);
    if (e.step == Step::MakeFolder && (failure == Failure::Denied || failure == Failure::ReadOnly))
        return SystemReason(e.code) + words.makesFolders;
    if (e.step == Step::Lock)
        return QStringLiteral("无法锁定保存时使用的锁文件 %1：%2").arg(e.path, SystemReason(e.code));
    return SystemReason(e.code);
}

} // namespace

QString SafeFile::CopyCommand(const QString &from, const QString &to)
{
    return PlatformWords().copy.arg(QDir::toNativeSeparators(from), QDir::toNativeSeparators(to));
}

QString SafeFile::Holder(const Error &busy)
{
    return busy.number ? QStringLiteral("用户 %1（进程 %2）").arg(busy.owner, QString::number(busy.number))
                       : QStringLiteral("另一位操作员");
}

QString SafeFile::Explain(const Error &e)
{
    const QString me = CurrentUserName();
    const Words &words = PlatformWords();
    switch (e.cause) {
    case Cause::ForeignLink:
        return QStringLiteral("%1 是用户 %2 的%3。为安全起见，本程序只跟随属于 %4 或你自己（%5）的链接，"
                              "所以没有读取或写入任何文件。请管理员检查这个链接")
                .arg(e.path, e.owner, words.links, words.trustedOwners, me);
    case Cause::NotAFile:
        return QStringLiteral("%1 不是普通文件").arg(e.path);
    case Cause::NarrowsReaders:
        return QStringLiteral("%1 只允许用户 %2 和组 %3 读取（权限 %4）。以你（%5）的身份保存后，"
                              "新文件不能再属于它们，原来能读它的用户（例如 Web 服务器）会读不到。"
                              "请由管理员保存，或请管理员先让所有人可读：chmod o+r %1")
                .arg(e.path, e.owner, e.group, QString::number(e.mode, 8).rightJustified(4, u'0'), me);
    case Cause::TooLarge:
        // Rounded up, so that a file just over the limit never shows as at it.
        return QStringLiteral("%1 有 %2 MB，超过了本程序读取关键字文件的上限 %3 MB，所以没有读取它。"
                              "请检查这个文件是否正确")
                .arg(e.path, QString::number(std::ceil(double(e.number) * 10 / (1 << 20)) / 10, 'f', 1),
                     QString::number(MaxSize >> 20));
    case Cause::Busy:
        return Holder(e) + QStringLiteral("正在保存这份列表（锁文件 %1）").arg(e.path);
    case Cause::GaveUp:
        return QStringLiteral("不再等待锁文件 %1").arg(e.path);
    case Cause::OpenToOthers:
        return QStringLiteral("保存时使用的锁文件 %1 也允许%2打开，别人可以借此阻止保存，所以没有保存。"
                              "请管理员执行“%3”，去掉他们对它的访问权限")
                .arg(e.path, e.owner, e.detail);
    case Cause::LockLinks:
        return QStringLiteral("保存时使用的锁文件 %1 有 %2 个名称（硬链接），可能就是别处的某个文件，"
                              "本程序不使用也不更改它，所以没有保存。请管理员删除这个名称（%3，它链接的文件不受影响），"
                              "下次保存会重新创建锁文件")
                .arg(e.path, QString::number(e.number), e.detail);
    case Cause::LockOwner:
        return QStringLiteral(
                       "保存时使用的锁文件 %1 属于用户 %2，不属于 %3 或你（%4）：它的所有者随时可以让别人打开它，"
                       "借此阻止保存，所以没有保存。请管理员执行“%5”")
                .arg(e.path, e.owner, words.trustedOwners, me, e.detail);
    case Cause::FolderOpen:
        return QStringLiteral("文件夹 %1 也允许%2写入：他们可以改动或替换其中的关键字列表，过滤器会照样使用它。%3")
                .arg(e.path, e.owner, e.detail);
    case Cause::LockGroup:
        return QStringLiteral("保存时使用的锁文件 %1 属于组 %2，不是它所在文件夹的组：%2 组的成员都可以打开它，"
                              "借此阻止保存，所以没有保存。请管理员执行“%3”")
                .arg(e.path, e.group, e.detail);
    case Cause::System:
    case Cause::Changed:
        break;
    }
    return ExplainSystem(e, me, words);
}
