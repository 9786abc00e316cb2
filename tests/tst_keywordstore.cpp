#include "DefaultKeywords.h"
#include "KeywordList.h"
#include "KeywordStore.h"
#include "Locations.h"
#include "TestRow.h"
#include "TestSystem.h"
#include "system/SafeFile.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <functional>
#include <tuple>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <sys/syscall.h>
#endif

// When set, called as each new file is synced: whole, before the save's last
// look at the working copy and the rename. POSIX alone calls it.
static std::function<void()> *atFileSync = nullptr;

#ifndef Q_OS_WIN
// The one failure no file system here makes on demand: a folder's sync.
static bool failFolderSync = false;
extern "C" int fsync(int fd)
{
    struct stat st;
    const mode_t type = ::fstat(fd, &st) == 0 ? st.st_mode & S_IFMT : 0;
    if (failFolderSync && type == S_IFDIR) {
        errno = EIO;
        return -1;
    }
    if (atFileSync && type == S_IFREG)
        (*atFileSync)();
    return int(::syscall(SYS_fsync, fd));
}
#endif

// What stands in the way of a save or of the start-up. Crowded: more
// keywords than the store reads. Busy: another program at the file: on
// Windows a reader that does not share deleting; elsewhere a writer that
// rewrites it, the same keywords with other line ends, each time between the
// save's look and its rename. NoSync: folders' syncs fail. Bound: bind-mounted
// alone. Private: the group's alone, for an outsider. From ReadOnly on, only
// root may put them there.
enum Obstacle { None, Crowded, File, Folder, Missing, Pipe, Huge, Busy, NoSync, ReadOnly, Full, Bound, Link, Private };

class TestKeywordStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    Locations m_at;
    QFile m_held;                    // a Busy reader, until the save is over
    std::function<void()> m_rewrite; // a Busy writer
    QByteArray m_working;            // what the working copy holds unless the save wrote it
    int m_log = -1;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QByteArray copies() const { return ReadAll(m_at.workingCopy) + '|' + ReadAll(m_at.publishedCopy); }
    static QByteArray Bytes(const QStringList &keywords) { return KeywordFile::Encode(keywords).bytes; }
    static QByteArray OverLimit() { return QByteArray(KeywordFile::MaxKeywords + 1, '\n'); } // one empty line too many
    // What a failing save tries to write.
    static inline const QStringList Mine{QStringLiteral("管理员"), "union", "%27"};

    // Windows moves or replaces a file only when every reader shares deleting
    // it, which Qt's own files do not; a reader such as the web server's does.
    static bool OpenSharingDelete(QFile &file, const QString &path)
    {
#ifdef Q_OS_WIN
        const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
        const int fd = handle == INVALID_HANDLE_VALUE ? -1 : ::_open_osfhandle(intptr_t(handle), _O_RDONLY);
        return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
#else
        file.setFileName(path);
        return file.open(QIODevice::ReadOnly);
#endif
    }

    // "saved", "merged: " and the list merged, "cancelled", or why not.
    static QString Outcome(const SaveResult &result)
    {
        return result.merged                                     ? "merged: " + result.merged->join(' ')
             : result.Done()                                     ? QStringLiteral("saved")
             : result.outcome == StoreResult::Outcome::Cancelled ? QStringLiteral("cancelled")
                                                                 : result.message;
    }

    // Saves over the working copy as the store found it.
    QString save(const QStringList &keywords) const
    {
        KeywordStore store(m_at);
        KeywordList opened;
        std::ignore = store.LoadWorkingCopy(opened); // one that cannot be read holds nothing to lose
        return Outcome(store.SaveAndPublish(keywords));
    }

    // Puts the obstacle at where; false, with the step that failed and why, when it cannot.
    bool place(Obstacle obstacle, const QString &where, QString *failed)
    {
        [[maybe_unused]] const QByteArray name = QFile::encodeName(where);
        const auto step = [&](bool done, const char *what) { return Done(done, what + (' ' + where), failed); };
        switch (obstacle) {
        case Obstacle::None:
            return true;
        case Obstacle::File:
            return step(QDir(where).removeRecursively() && WriteAll(where, "a file"), "put a file at");
        case Obstacle::Crowded:
            m_working = OverLimit();
            return step(WriteAll(where, m_working), "write too many keywords to");
        case Obstacle::Folder:
            return step(QFile::remove(where) && QDir().mkdir(where), "put a folder at");
        case Obstacle::Missing:
            return step(QFile::remove(where), "remove");
#ifdef Q_OS_WIN
        case Obstacle::Busy:
            m_held.setFileName(where);
            return step(m_held.open(QIODevice::ReadOnly), "open");
        default:
            return step(false, "put this obstacle on Windows at");
#else
        case Obstacle::Pipe:
            return step(QFile::remove(where) && ::mkfifo(name, 0644) == 0, "put a pipe at");
        case Obstacle::Huge: // a terabyte that takes no room on the disk
            return step(::truncate(name, qint64(1) << 40) == 0, "make a sparse terabyte of");
        case Obstacle::Busy: // past the bound it stops, so that a save without one fails rather than hangs
            m_rewrite = [this, where, times = quint64(), took = QElapsedTimer()]() mutable {
                if (!took.isValid())
                    took.start();
                const char *ends[] = {"\r\n", "\n", "\r"};
                QByteArray bytes;
                for (quint64 digits = ++times, i = 0; i < 30; ++i, digits /= 3)
                    bytes += QByteArray("k") + ends[digits % 3];
                const QString part = path("rewritten.part");
                if (took.elapsed() < std::chrono::milliseconds(SaveWait).count() + 2000 && WriteAll(part, bytes)
                    && ::rename(QFile::encodeName(part), QFile::encodeName(where)) == 0)
                    m_working = bytes;
            };
            atFileSync = &m_rewrite;
            m_rewrite();
            return step(ReadAll(where) == m_working, "write keywords to");
        case Obstacle::NoSync:
            failFolderSync = true;
            return true;
        case Obstacle::ReadOnly:
        case Obstacle::Bound:
            return step(::mount(name, name, nullptr, MS_BIND, nullptr) == 0, "bind-mount")
                && (obstacle == Obstacle::Bound
                    || step(::mount(nullptr, name, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0,
                            "remount read-only"));
        case Obstacle::Full:
            return step(::mount("tmpfs", name, "tmpfs", 0, "size=64k") == 0, "mount a 64k tmpfs on")
                && step(WriteAll(where + "/inject.txt", Old), "write inject.txt in")
                && step(!WriteAll(where + "/filler", QByteArray(70000, 'f')), "fill up the tmpfs on");
        case Obstacle::Link: // another user's, to what was there
            return step(::rename(name, QFile::encodeName(path("real"))) == 0, "move aside")
                && step(::symlink(QFile::encodeName(path("real")), name) == 0, "put a link at")
                && step(::lchown(name, Member, Member) == 0, "give its owner the link at");
        case Obstacle::Private:
            return Own(where, "0:4000 640", failed);
#endif
        }
        return false;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_at = Locations::InRoot(m_dir->path());
        QVERIFY2(m_dir->isValid() && QDir().mkpath(path("program")) && QDir().mkpath(path("tarnwick"))
                         && WriteAll(m_at.workingCopy, Old) && WriteAll(m_at.publishedCopy, Old),
                 qPrintable(m_dir->path()));
        m_working = Old;
#ifdef Q_OS_WIN
        SaveRecord::SetDestination(QString()); // never the machine's log
#else
        QVERIFY2(::chmod(QFile::encodeName(m_dir->path()), 0755) == 0, qPrintable(SystemReason(errno)));
        m_log = OpenLog(path("log"));
        QVERIFY2(m_log >= 0, qPrintable(SystemReason(errno)));
#endif
    }

    void cleanup()
    {
        m_held.close();
        atFileSync = nullptr;
#ifndef Q_OS_WIN
        failFolderSync = false;
        ::close(m_log);
        for (const QString &mounted : {m_at.workingCopy, m_at.publishedCopy, path("program"), path("tarnwick")})
            ::umount2(QFile::encodeName(mounted), MNT_DETACH);
#endif
    }

    void startUpRefuses_data()
    {
        QTest::addColumn<Obstacle>("obstacle");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("bytes"); // in the working copy
        QTest::addColumn<QString>("expected"); // in the message, WHERE for the obstacle's path
        const QString working = "program/inject.txt";
        const QString copyBack =
                QDir::toNativeSeparators(QString(QDir::separator() == '/' ? "cp" : "copy")
                                         + " \"NATIVE/tarnwick/inject.txt\" \"NATIVE/program/inject.txt\"");
        Row("no working copy: the published copy may be copied back", Obstacle::Missing, working, Old,
            "WHERE：文件或文件夹不存在。发布副本 ROOT/tarnwick/inject.txt 还在，其中是上次保存的列表：可以执行“"
                    + copyBack + "”");
        Row("neither copy: reinstalling", Obstacle::Missing, working, Old,
            "WHERE：文件或文件夹不存在。重新安装本程序会放回默认的关键字列表。");
        Row("the working copy a folder: move it", Obstacle::Folder, working, Old,
            "WHERE：这是一个文件夹，不是文件。请把这个文件夹移走或改名");
#ifndef Q_OS_WIN
        Row("the working copy a pipe, which must not hang", Obstacle::Pipe, working, Old, "WHERE 不是普通文件");
        Row("a terabyte, which is not read", Obstacle::Huge, working, Old,
            "WHERE 有 1048576.0 MB，超过了本程序读取关键字文件的上限 16 MB");
        Row("the group's alone, for an outsider: who may read it", Obstacle::Private, working, Old,
            "WHERE：你（用户 4003）不能读取它。4000 组的成员可以读取它：请管理员执行“adduser 4003 4000”");
#endif
        Row("UTF-8 with its mark", Obstacle::None, working, QByteArray("\xEF\xBB\xBFselect\r\n"), "WHERE 是 UTF-8");
        Row("not GBK", Obstacle::None, working, QByteArray("ok\r\nok\r\n\x81\x7f\r\n"), "WHERE 第 3 行");
        Row("more keywords than the limit", Obstacle::None, working, OverLimit(),
            "WHERE 有 2000001 个关键字（行），超过了本程序的上限 2000000 个");
        for (const char *link : {"program/inject.txt", "program", "tarnwick/inject.txt", "tarnwick"})
            QTest::addRow("another user's link %s", link)
                    << Obstacle::Link << link << Old << "WHERE 是用户 4001 的符号链接";
    }

    // Nothing is made, the filter's folder included, unless the message names the published copy.
    void startUpRefuses()
    {
        QFETCH(Obstacle, obstacle);
        QFETCH(QString, where);
        if (obstacle >= Obstacle::ReadOnly)
            ROOT_ONLY("links, which Wine does not make (CreateSymbolicLinkW does nothing there)",
                      "for another user's link");
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const bool inFilterFolder = where.startsWith("tarnwick") || expected.contains("ROOT/tarnwick");
        QString failed;
        QVERIFY2(WriteAll(m_at.workingCopy, bytes) && (inFilterFolder || QDir(m_at.filterDirectory).removeRecursively())
                         && place(obstacle, path(where), &failed),
                 qPrintable(failed));
        // In a process of its own, bounded: a file read that should not be
        // (the terabyte) must fail this row, not end the suite.
        QProcess child;
#ifndef Q_OS_WIN
        if (obstacle == Obstacle::Private)
            child.setChildProcessModifier([] {
                std::ignore = ::setgroups(0, nullptr) == 0 && ::setgid(Outsider) == 0 && ::setuid(Outsider) == 0;
            });
#endif
        child.start(QCoreApplication::applicationFilePath(), {"--start-up", m_dir->path()});
        const bool ended = child.waitForFinished(20000) && child.exitStatus() == QProcess::NormalExit;
        child.kill();
        const QString message = QString::fromUtf8(child.readAllStandardOutput());
        QVERIFY2(ended && child.exitCode() == 1, qPrintable(QString("exit code %1: ").arg(child.exitCode()) + message));
        expected.replace("WHERE", path(where))
                .replace("NATIVE", QDir::toNativeSeparators(m_dir->path()))
                .replace("ROOT", m_dir->path());
        QVERIFY2(message.contains(expected), qPrintable(message));
        QCOMPARE(QFileInfo::exists(m_at.filterDirectory), inFilterFolder);
    }

    void savesBothCopiesWhole_data()
    {
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QByteArray>("file");
        Row("empty list, zero-byte files", QStringList(), QByteArray());
        Row("the defaults, as shipped", DefaultKeywords(), ReadAll(SHIPPED_WORKING_COPY));
    }

    // A reader that holds the old file keeps reading all of it: the copy is a
    // new file. As each new file is written, the copies are whole, old or new,
    // and another save finds the lock taken.
    void savesBothCopiesWhole()
    {
        QFile reader;
        QVERIFY2(OpenSharingDelete(reader, m_at.publishedCopy), qPrintable(m_at.publishedCopy));
        QStringList seen;
        std::function<void()> look = [&] {
            QProcess other;
            other.start(QCoreApplication::applicationFilePath(), {"--hold-lock", m_at.workingCopy, "0", ""});
            const bool busy = other.waitForFinished() && other.readAllStandardError().contains("正在保存这份列表");
            seen << copies() + (busy ? "|locked" : "|not locked");
        };
        atFileSync = &look;
        QFETCH(QStringList, keywords);
        QCOMPARE(save(keywords), QString("saved"));
        QFETCH(QByteArray, file);
        QCOMPARE(copies(), file + '|' + file);
        QCOMPARE(reader.readAll(), Old);
        reader.close(); // on Windows the old file keeps a name while it is open
        QCOMPARE(Entries(path("program")) + Entries(m_at.filterDirectory),
                 QStringList({".inject.txt.lock", "inject.txt", "inject.txt"}));
#ifndef Q_OS_WIN
        QCOMPARE(seen, QStringList({Old + '|' + Old + "|locked", file + '|' + Old + "|locked"}));
#endif
    }

    void failedSaveKeepsEachCopyWhole_data()
    {
        QTest::addColumn<Obstacle>("obstacle");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("expected");     // in the message
        QTest::addColumn<QString>("wrote");        // the copies written, as the record names them
        QTest::addColumn<QByteArray>("published"); // what the published copy holds after
        const QByteArray none = "<no file>";
        Row("working folder read-only", Obstacle::ReadOnly, "program", "文件系统是只读的", "none", Old);
        Row("working folder full", Obstacle::Full, "program", "磁盘空间不足", "none", Old);
        Row("working copy mounted alone: the rename fails", Obstacle::Bound, "program/inject.txt", "单独挂载的文件",
            "none", Old);
        Row("published copy mounted alone: the rename fails", Obstacle::Bound, "tarnwick/inject.txt", "单独挂载的文件",
            "working", Old);
        Row("filter folder a plain file", Obstacle::File, "tarnwick", "不是文件夹", "working", none);
        Row("published copy a folder", Obstacle::Folder, "tarnwick/inject.txt", "是一个文件夹", "working", none);
        Row("a keyword with a line break", Obstacle::None, "", "第 4 个关键字 “a‹U+000A›b” 含有换行符", "none", Old);
        Row("their working copy: more keywords than the limit", Obstacle::Crowded, "program/inject.txt",
            "有 2000001 个关键字（行），超过了本程序的上限 2000000 个，无法与你的修改合并", "none", Old);
#ifdef Q_OS_WIN
        Row("published copy held by a reader", Obstacle::Busy, "tarnwick/inject.txt", "正被另一个程序使用", "working",
            Old);
#else // on Windows the rename itself writes through
        Row("both copies replaced, their folders' syncs failed", Obstacle::NoSync, "tarnwick", "输入/输出错误",
            "working,published", Bytes(Mine));
        Row("the working copy rewritten at each look: the save gives up within its bound", Obstacle::Busy,
            "program/inject.txt", "：保存期间它被别的程序改动了", "none", Old);
#endif
        for (const char *link : {"program/inject.txt", "program", "tarnwick/inject.txt", "tarnwick"})
            QTest::addRow("another user's link %s", link)
                    << Obstacle::Link << link << "是用户 4001 的符号链接" << QString("none") << Old;
    }

    // And the message and the log tell which copies were written and why the save failed.
    void failedSaveKeepsEachCopyWhole()
    {
        QFETCH(Obstacle, obstacle);
        QFETCH(QString, where);
        if (obstacle >= Obstacle::ReadOnly)
            ROOT_ONLY("private mounts and other users' links", "for private mounts and other users' links");
        QString failed;
        QVERIFY2(place(obstacle, path(where), &failed), qPrintable(failed));
        const QStringList keywords = Mine + (where.isEmpty() ? QStringList{"a\nb"} : QStringList());
        const QString error = save(keywords);
        m_held.close();
        QFETCH(QString, expected);
        QFETCH(QString, wrote);
        const QString told = wrote == "none"    ? "都没有改动"
                           : wrote == "working" ? "已保存"
                                                : m_at.workingCopy + " 已替换，但未能确认";
        QVERIFY2(error.contains(expected) && (where.isEmpty() || error.contains(path(where))) && error.contains(told),
                 qPrintable(error));
        QCOMPARE(ReadAll(m_at.workingCopy), wrote != "none" ? Bytes(keywords) : m_working);
        QTEST(ReadAll(m_at.publishedCopy), "published");
        for (const QString &folder : {path("program"), path("tarnwick"), path("real")})
            QVERIFY2(Entries(folder).filter(".tmp").isEmpty(), qPrintable(Entries(folder).join(' ')));
#ifndef Q_OS_WIN
        const QString record = Received(m_log).join('\n'); // one line
        QVERIFY2(record.startsWith("result=failed wrote=" + wrote + ' ')
                         && record.contains(" reason=\"" + QString(error).replace('\\', "\\\\") + '"')
                         && !record.contains('\n'),
                 qPrintable(record));
#endif
    }

    void whoMaySave_data()
    {
        QTest::addColumn<bool>("meanwhile"); // the copy is narrowed while the merge question is open, else before
        QTest::newRow("narrowed before the save") << false;
        QTest::newRow("narrowed while the question is open: judged as before writing") << true;
    }

    // A member of the folders' group may save, but not so that the web server
    // could no longer read the published copy, whenever the copy became so.
    void whoMaySave()
    {
        ROOT_ONLY("other users", "to save as another user");
#ifndef Q_OS_WIN
        QFETCH(bool, meanwhile);
        QString failed;
        const auto narrow = [&] { return Own(m_at.publishedCopy, "0:33 640", &failed); };
        QVERIFY2(Own(path("program"), "0:4000 2775", &failed) && Own(path("tarnwick"), "0:4000 2775", &failed)
                         && Own(m_at.workingCopy, "0:4000 664", &failed)
                         && Own(m_at.publishedCopy, "0:4000 664", &failed) && (meanwhile || narrow()),
                 qPrintable(failed));
        KeywordStore store(m_at);
        KeywordList list;
        QVERIFY2(store.LoadWorkingCopy(list).Done(), "cannot load");
        const QByteArray theirs = "old\r\ntheirs\r\n";
        QVERIFY2(!meanwhile || WriteAll(m_at.workingCopy, theirs), "cannot save theirs");
        const ChangedQuestion ask = [&](const QString &, const KeywordMerge::Changes &) {
            // An administrator hands the published copy to the web server alone.
            return ::seteuid(0) == 0 && narrow() && ::seteuid(Member) == 0 ? OnChange::Merge : OnChange::Cancel;
        };
        SaveResult result;
        const bool became = AsUser(Member, [&] { result = store.SaveAndPublish({"old", "new"}, ask); });
        QVERIFY2(became && failed.isEmpty(), qPrintable("cannot become user 4001, or " + failed));
        QVERIFY2(result.message.contains(m_at.publishedCopy + " 只允许用户 root 和组 www-data 读取")
                         && result.message.endsWith("工作副本和发布副本都没有改动。"),
                 qPrintable(result.message));
        QCOMPARE(copies(), (meanwhile ? theirs : Old) + '|' + Old);
#endif
    }

    // An operator who saved, and so owns both copies, opened them to all:
    // root's save takes both, closed to others, and the record says so. A
    // filter's folder open to all is not closed, but the user is told.
    void noCopyStaysOpenToOthers()
    {
        ROOT_ONLY("owners and modes", "to give the copies to another user");
#ifndef Q_OS_WIN
        QString failed;
        QVERIFY2(Own(m_at.workingCopy, "4001:4000 666", &failed) && Own(m_at.publishedCopy, "4001:4000 666", &failed)
                         && Own(m_at.filterDirectory, "0:0 777", &failed),
                 qPrintable(failed));
        const SaveResult saved = KeywordStore(m_at).SaveAndPublish({"new"});
        QVERIFY2(saved.Done(), qPrintable(saved.message));
        QCOMPARE(saved.warning, "注意：文件夹 " + m_at.filterDirectory
                                        + " 也允许所有用户（权限 0777）写入：他们可以改动或替换其中的关键字列表，"
                                          "过滤器会照样使用它。请管理员执行“chmod o-w \""
                                        + m_at.filterDirectory + "\"”。");
        QCOMPARE(Ownership(m_at.workingCopy) + ", " + Ownership(m_at.publishedCopy), QString("0:4000 664, 0:4000 664"));
        const QStringList records = Received(m_log);
        QVERIFY2(records.size() == 1
                         && records.first().startsWith(
                                 "result=saved wrote=working,published tightened=working,published "),
                 qPrintable(records.join('\n')));
#endif
    }

    void aSaveWaitsForTheOneBefore_data()
    {
        QTest::addColumn<int>("holdFor");       // ms the other save holds the lock
        QTest::addColumn<QByteArray>("theirs"); // what it then writes, if anything
        QTest::addColumn<int>("giveUpAfter");   // ms this save's user waits, at most
        QTest::addColumn<QString>("result");    // in the outcome, WHO for who holds the lock
        QTest::addColumn<QStringList>("asked"); // what was added and removed there, each time this save asked
        QTest::addColumn<QString>("record");    // a pattern the record matches
        Row("it ends: this save waits, sees its change, and is asked again when it changes meanwhile", 700,
            QByteArray("old\r\ngone\r\ntheirs\r\n"), 60000, "merged: old theirs gamma mine",
            QStringList{"theirs", "theirs gamma"},
            "^result=saved wrote=working,published added=1 removed=1 .* keywords=\\+\"mine\" -\"gone\"$");
        Row("it does not end: refused, both copies kept", 60000, QByteArray(), 60000, "WHO正在保存这份列表",
            QStringList(), "^result=failed wrote=none .*正在保存这份列表");
        Row("the user stops waiting: cancelled at once, both copies kept", 60000, QByteArray(), 300, "cancelled",
            QStringList(), "^result=cancelled wrote=none ");
    }

    // Another process holds the lock: this save waits at most SaveWait.
    // Asked, it merges; the record counts its changes against what it found.
    void aSaveWaitsForTheOneBefore()
    {
        QFETCH(int, holdFor);
        QFETCH(QByteArray, theirs);
        const QByteArray before = "old\r\ngone\r\n";
        KeywordStore store(m_at);
        KeywordList opened;
        QVERIFY2(WriteAll(m_at.workingCopy, before) && WriteAll(m_at.publishedCopy, before)
                         && store.LoadWorkingCopy(opened).Done(),
                 "cannot load the copies");
        QProcess other;
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        other.start(QCoreApplication::applicationFilePath(), {"--hold-lock", m_at.workingCopy, QString::number(holdFor),
                                                              QString::fromLatin1(theirs.toBase64())});
        QVERIFY2(other.waitForReadyRead(10000) && other.readAll().trimmed() == "locked", "the other save took no lock");
        QStringList asked;
        const ChangedQuestion ask = [&](const QString &path, const KeywordMerge::Changes &changes) {
            asked << (changes.added + changes.removed).join(' ');
            return asked.size() > 1 || WriteAll(path, theirs + "gamma\r\n") ? OnChange::Merge : OnChange::Cancel;
        };
        QFETCH(int, giveUpAfter);
        QElapsedTimer waited;
        waited.start();
        QSet<QString> told; // who holds the lock, as the wait was told
        const WaitingNotice waiting = [&](const QString &holder) {
            told.insert(holder);
            return waited.elapsed() < giveUpAfter;
        };
        const SaveResult saved = store.SaveAndPublish({"old", "mine"}, ask, waiting);
        const QString outcome = Outcome(saved);
        const qint64 ms = waited.elapsed();
#ifdef Q_OS_WIN // the system does not tell who holds a lock
        const QString who = "另一位操作员";
#else
        const QString who =
                QStringLiteral("用户 %1（进程 %2）").arg(::getpwuid(::geteuid())->pw_name).arg(other.processId());
        QFETCH(QString, record);
        const QStringList records = Received(m_log);
        QVERIFY2(records.size() == 1 && QRegularExpression(record).match(records.first()).hasMatch(),
                 qPrintable(records.join('\n')));
#endif
        other.kill();
        other.waitForFinished();
        QFETCH(QString, result);
        QVERIFY2(outcome.contains(result.replace("WHO", who)), qPrintable(outcome));
        QCOMPARE(told, QSet<QString>{who});
        const qint64 bound = qMin<qint64>(std::chrono::milliseconds(SaveWait).count(), giveUpAfter);
        QVERIFY2(ms >= qMin<qint64>(holdFor, bound) - 100 && ms < bound + 2000, qPrintable(QString::number(ms)));
        QTEST(asked, "asked");
        const QByteArray after = saved.merged ? Bytes(*saved.merged) : before;
        QCOMPARE(copies(), after + '|' + after);
        // Once saved, the next save of the same store asks nothing.
        QVERIFY2(!saved.merged || (store.SaveAndPublish(*saved.merged, ask).Done() && asked.size() == 2),
                 qPrintable(asked.join('|')));
    }
};

// As the other process of aSaveWaitsForTheOneBefore: --hold-lock FILE MS
// BASE64 takes the lock of FILE, says so, and after MS writes the bytes, if
// any, as a save would, and ends, which lets the lock go.
static int HoldLock(const QStringList &arguments)
{
    SafeFile file(arguments.value(2));
    SafeFile::Error error;
    if (!file.Reach(&error) || !file.Inspect(&error) || !file.Lock(std::chrono::milliseconds(0), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(SafeFile::Explain(error)));
        return 1;
    }
    std::fputs("locked\n", stdout);
    std::fflush(stdout);
    QThread::msleep(arguments.value(3).toULong());
    const QByteArray theirs = QByteArray::fromBase64(arguments.value(4).toLatin1());
    return theirs.isEmpty() || file.Replace(theirs, &error) ? 0 : 1;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == "--hold-lock")
        return HoldLock(app.arguments());
    // As the start-up of startUpRefuses: --start-up ROOT starts on
    // Locations::InRoot(ROOT), writes its message, and ends with 1 when it failed.
    if (app.arguments().value(1) == "--start-up") {
        KeywordList list;
        const StoreResult started = KeywordStore(Locations::InRoot(app.arguments().value(2))).StartUp(list);
        std::fputs(started.message.toUtf8().constData(), stdout);
        return started.Done() ? 0 : 1;
    }
    TestKeywordStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_keywordstore.moc"
