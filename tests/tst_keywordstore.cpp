#include "DefaultKeywords.h"
#include "KeywordFile.h"
#include "KeywordList.h"
#include "KeywordMerge.h"
#include "KeywordStore.h"
#include "LastSeen.h"
#include "Locations.h"
#include "SafeFile.h"
#include "SaveRecord.h"
#include "SystemReason.h"
#include "TestFiles.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// Root, other users, POSIX ACLs, private mounts and the sync interposer are
// POSIX; Wine makes no symbolic links or junctions (CreateSymbolicLinkW does
// nothing there), so links, another user's above all, are left to POSIX too.
#ifdef Q_OS_WIN
#define POSIX_ONLY(what) QSKIP("POSIX only: " what)
#else
#define POSIX_ONLY(what) do {} while (false)

// The one failure no file system here makes on demand: a folder's sync.
static bool failFolderSync = false;
extern "C" int fsync(int fd)
{
    struct stat st;
    if (failFolderSync && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        return errno = EIO, -1;
    return int(::syscall(SYS_fsync, fd));
}
#endif

namespace {

const QByteArray Old = "old\r\n";

QByteArray Bytes(const QStringList &keywords) { return KeywordFile::Encode(keywords).bytes; }

#ifdef Q_OS_WIN
// Windows moves or replaces a file only when every reader shares deleting it,
// which Qt's own files do not; a reader such as the web server's does.
bool OpenSharingDelete(QFile &file, const QString &path)
{
    const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    const int fd = handle == INVALID_HANDLE_VALUE ? -1 : ::_open_osfhandle(intptr_t(handle), _O_RDONLY);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

// A process id that is in use while the test runs, and one that is not.
bool LiveAndDead(QProcess &live, qint64 *dead)
{
    QProcess gone;
    live.start("cmd.exe", {"/c", "pause"}); // until its input closes
    gone.start("cmd.exe", {"/c", "exit"});
    if (!live.waitForStarted() || !gone.waitForStarted())
        return false;
    *dead = gone.processId();
    return gone.waitForFinished() && *dead != 0;
}
#else
constexpr uid_t Member = 4001, OtherMember = 4002, Outsider = 4003;
constexpr gid_t Group = 4000, WebServer = 33;

struct stat Stat(const QString &path)
{
    struct stat st{};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

bool Own(const QString &path, uid_t user, gid_t group, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name, user, group) == 0 && ::chmod(name, mode) == 0;
}

// Owner, group, mode and ACL, as getfacl shows them.
QByteArray Looks(const QString &path)
{
    QProcess getfacl;
    getfacl.start("getfacl", {"-n", path});
    return getfacl.waitForFinished() && getfacl.exitCode() == 0 ? getfacl.readAll() : "no getfacl";
}
#endif

} // namespace

class TestKeywordStore : public QObject
{
    Q_OBJECT

    bool m_root = false;
    std::unique_ptr<QTemporaryDir> m_dir;
    Locations m_at;
    QString path(const QString &name) const { return m_dir->filePath(name); }

    QString save(const QStringList &keywords) const
    {
        KeywordList list;
        list.AppendAll(keywords);
        QString error;
        return SaveAndPublish(m_at, list, &error) ? QStringLiteral("saved") : error;
    }

#ifndef Q_OS_WIN
    // As another user, with these groups.
    QString saveAs(uid_t user, QList<gid_t> groups, const QStringList &keywords) const
    {
        if (::setgroups(groups.size(), groups.data()) || ::setegid(groups.first()) || ::seteuid(user))
            return "cannot become user " + QString::number(user);
        const QString result = save(keywords);
        return ::seteuid(0) || ::setegid(0) || ::setgroups(0, nullptr) ? "cannot become root again" : result;
    }

    // Moves the named file or folder aside as "real" and puts a link there.
    bool linkAside(const QString &name, uid_t owner)
    {
        return QFile::rename(path(name), path("real")) && QFile::link(path("real"), path(name))
               && ::lchown(QFile::encodeName(path(name)), owner, owner) == 0;
    }
#endif

private slots:
    void initTestCase()
    {
#ifndef Q_OS_WIN
        // Read-only and full file systems without touching the machine's own: a
        // private mount namespace, which needs root, as other users do.
        m_root = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
                 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
#endif
        SaveRecord::SetDestination(QString()); // never the machine's log
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
#ifndef Q_OS_WIN
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()), 0755) == 0);
#endif
        m_at = {path("program/inject.txt"), path("tarnwick"), path("tarnwick/inject.txt")};
        QVERIFY(QDir().mkpath(path("program")) && QDir().mkpath(path("tarnwick")));
        QVERIFY(WriteAll(m_at.workingCopy, Old) && WriteAll(m_at.publishedCopy, Old));
    }

    void cleanup()
    {
#ifndef Q_OS_WIN
        ::umount2(QFile::encodeName(path("program")), MNT_DETACH), ::umount2(QFile::encodeName(path("tarnwick")), MNT_DETACH);
#endif
    }

    void fixedLocations_data()
    {
        QTest::addColumn<QString>("programDirectory");
        QTest::addColumn<QString>("workingCopy");
#ifdef Q_OS_WIN
        // "/inject.txt" follows the folder in the system's form as it is, a root's "\\" too.
        QTest::newRow("a drive's root") << "C:/" << "C:\\/inject.txt";
        QTest::newRow("a folder") << "C:/Program Files/vantrel-filter" << "C:\\Program Files\\vantrel-filter/inject.txt";
#else
        QTest::newRow("the root") << "/" << "//inject.txt";
        QTest::newRow("a folder") << "/opt/vantrel-filter" << "/opt/vantrel-filter/inject.txt";
#endif
    }

    void fixedLocations()
    {
        QFETCH(QString, programDirectory);
        const Locations at = Locations::ForProgramDirectory(programDirectory);
        QTEST(at.workingCopy, "workingCopy");
#ifdef Q_OS_WIN
        QCOMPARE(at.filterDirectory + '|' + at.publishedCopy, QString("c:\\tarnwick|C:\\tarnwick\\inject.txt"));
#else
        QCOMPARE(at.filterDirectory + '|' + at.publishedCopy, QString("/tarnwick|/tarnwick/inject.txt"));
#endif
    }

    void savesBothCopiesWhole_data()
    {
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QString>("link"); // a part of the way that is root's link
        QTest::newRow("empty list, zero-byte files") << QStringList() << "";
        QTest::newRow("Chinese, empty, duplicate, spaces")
            << QStringList{QStringLiteral("你好"), "", "union", QStringLiteral("你好"), " x "} << "";
        QTest::newRow("the defaults") << DefaultKeywords() << "";
        for (const char *link : {"program/inject.txt", "tarnwick"})
            QTest::addRow("through root's link %s", link) << QStringList{"new"} << link;
    }

    void savesBothCopiesWhole()
    {
        QFETCH(QStringList, keywords);
        QFETCH(QString, link);
        // A reader that holds the old file keeps reading all of it: the copy is a new file.
        QFile reader(m_at.publishedCopy);
#ifdef Q_OS_WIN
        if (!link.isEmpty())
            POSIX_ONLY("links, which Wine does not make (CreateSymbolicLinkW does nothing there)");
        QVERIFY(OpenSharingDelete(reader, m_at.publishedCopy));
#else
        QVERIFY(link.isEmpty() || linkAside(link, 0));
        QVERIFY(reader.open(QIODevice::ReadOnly));
#endif

        QCOMPARE(save(keywords), QString("saved"));
        const QByteArray bytes = Bytes(keywords);
        QCOMPARE(ReadAll(m_at.workingCopy) + '|' + ReadAll(m_at.publishedCopy), bytes + '|' + bytes);
        QVERIFY(keywords != DefaultKeywords() || bytes == ReadAll(SHIPPED_WORKING_COPY));
        QCOMPARE(reader.readAll(), Old);
        reader.close(); // on Windows the old file keeps a name while it is open
        QVERIFY(link.isEmpty() || QFileInfo(path(link)).isSymLink());
        QCOMPARE(Entries(path("program")) + Entries(m_at.filterDirectory), QStringList({"inject.txt", "inject.txt"}));

        KeywordList again;
        QString error;
        QVERIFY2(RunStartUp(m_at, again, &error) && again.Texts() == keywords, qPrintable(error));
    }

    void failedSaveKeepsEachCopyWhole_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("place");    // where it is
        QTest::addColumn<QString>("expected"); // in the message
        QTest::addColumn<int>("count");        // keywords to save

        QTest::newRow("working folder read-only") << "read-only" << "program" << "文件系统是只读的" << 3;
        QTest::newRow("working folder full") << "full" << "program" << "磁盘空间不足" << 20000;
        QTest::newRow("filter folder read-only") << "read-only" << "tarnwick" << "文件系统是只读的" << 20000;
        QTest::newRow("filter folder full") << "full" << "tarnwick" << "磁盘空间不足" << 3;
        QTest::newRow("filter folder a plain file") << "file" << "tarnwick" << "不是文件夹" << 3;
        QTest::newRow("published copy a folder") << "folder" << "tarnwick/inject.txt" << "是一个文件夹" << 3;
        QTest::newRow("a keyword with a line break") << "keyword" << "" << "第 4 个关键字 “a\\nb” 含有换行符" << 3;
#ifdef Q_OS_WIN
        QTest::newRow("published copy held by a reader") << "held" << "tarnwick/inject.txt" << "正被另一个程序使用" << 3;
#endif
        for (const char *link : {"program/inject.txt", "program", "tarnwick/inject.txt", "tarnwick"})
            QTest::addRow("another user's link %s", link) << "link" << link << "是用户 4001 的符号链接" << 3;
    }

    void failedSaveKeepsEachCopyWhole()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, place);
        QFETCH(QString, expected);
        QFETCH(int, count);
        if (obstacle == "read-only" || obstacle == "full" || obstacle == "link")
            POSIX_ONLY("private mounts and other users' links");
        if ((obstacle == "read-only" || obstacle == "full" || obstacle == "link") && !m_root)
            QSKIP("needs root, for private mounts and other users' links");
#ifndef Q_OS_WIN
        const QByteArray where = QFile::encodeName(path(place));
        if (obstacle == "full")
            QVERIFY(::mount("tmpfs", where, "tmpfs", 0, "size=64k") == 0 && WriteAll(path(place) + "/inject.txt", Old)
                    && !WriteAll(path(place) + "/filler", QByteArray(70000, 'f')));
        if (obstacle == "read-only")
            QVERIFY(::mount(where, where, nullptr, MS_BIND, nullptr) == 0
                    && ::mount(nullptr, where, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
#endif
        QVERIFY(obstacle != "file" || (QDir(path(place)).removeRecursively() && WriteAll(path(place), "a file")));
        QVERIFY(obstacle != "folder" || (QFile::remove(path(place)) && QDir().mkdir(path(place))));
#ifndef Q_OS_WIN
        QVERIFY(obstacle != "link" || linkAside(place, Member));
#endif
        QFile reader(path(place)); // Qt's files do not share deleting
        QVERIFY(obstacle != "held" || reader.open(QIODevice::ReadOnly));
        QStringList keywords;
        for (int i = 0; i < count; ++i)
            keywords << QStringLiteral("管理%1").arg(i);
        if (obstacle == "keyword")
            keywords << QStringLiteral("a\nb");

        const QString error = save(keywords);
        QVERIFY2(error.contains(expected) && (place.isEmpty() || error.contains(path(place))), qPrintable(error));
        reader.close();
        const bool workingSaved = place.startsWith("tarnwick") && obstacle != "link";
        QVERIFY2(error.contains(workingSaved ? "已保存" : "都没有改动"), qPrintable(error));
        QCOMPARE(ReadAll(m_at.workingCopy), workingSaved ? Bytes(keywords) : Old);
        if (obstacle != "file" && obstacle != "folder")
            QCOMPARE(ReadAll(m_at.publishedCopy), Old);
        for (const QString &folder : {path("program"), path("tarnwick"), path("real")})
            QVERIFY2(Entries(folder).filter(".tmp").isEmpty(), qPrintable(Entries(folder).join(' ')));
        KeywordList loaded;
        QString startUp;
        QCOMPARE(RunStartUp(m_at, loaded, &startUp), obstacle != "link");
    }

    void badWorkingCopiesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << "missing" << QByteArray() << "文件或文件夹不存在";
        QTest::newRow("a folder") << "folder" << QByteArray() << "是一个文件夹";
#ifndef Q_OS_WIN
        QTest::newRow("a pipe, which must not hang") << "pipe" << QByteArray() << "不是普通文件";
#endif
        QTest::newRow("UTF-8 with its mark") << "file" << QByteArray("\xEF\xBB\xBF" "and\r\n") << "UTF-8";
        QTest::newRow("not GBK") << "file" << QByteArray("ok\r\nok\r\n\x81\x7f\r\n") << "第 3 行";
        QTest::newRow("UTF-8 mark, then not GBK") << "file" << QByteArray("\xEF\xBB\xBFok\r\n\x81\r\n") << "第 2 行";
    }

    void badWorkingCopiesAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QVERIFY(QFile::remove(m_at.workingCopy) && QDir(m_at.filterDirectory).removeRecursively());
        QVERIFY(kind != "folder" || QDir().mkdir(m_at.workingCopy));
#ifndef Q_OS_WIN
        QVERIFY(kind != "pipe" || ::mkfifo(QFile::encodeName(m_at.workingCopy), 0644) == 0);
#endif
        QFETCH(QByteArray, bytes);
        QVERIFY(kind != "file" || WriteAll(m_at.workingCopy, bytes));
        KeywordList list;
        QString error;
        QVERIFY(!RunStartUp(m_at, list, &error));
        QVERIFY2(error.contains(expected) && error.contains(m_at.workingCopy), qPrintable(error));
        QVERIFY(!QFileInfo::exists(m_at.filterDirectory));
    }

    void keepsOwnersGroupsModesAclsAndReaders()
    {
        POSIX_ONLY("owners, groups, modes and POSIX ACLs; Wine keeps no ACL for ReplaceFileW to carry over");
#ifndef Q_OS_WIN
        if (!m_root)
            QSKIP("needs root, to save as and for other users");
        // Saved by root, each copy keeps exactly what it had.
        QVERIFY(Own(m_at.workingCopy, WebServer, WebServer, 0640) && Own(m_at.publishedCopy, 0, WebServer, 0440)
                && QProcess::execute("setfacl", {"-m", "u:4001:r", m_at.publishedCopy}) == 0);
        const QByteArray before = Looks(m_at.workingCopy) + Looks(m_at.publishedCopy);
        QVERIFY2(before.contains("user:4001:r--"), before.constData());
        QCOMPARE(save({"root"}), QString("saved"));
        QCOMPARE(Looks(m_at.workingCopy) + Looks(m_at.publishedCopy), before);
        // A new one is readable by all and takes the folder's group, whatever the umask.
        QVERIFY(QFile::remove(m_at.publishedCopy) && Own(path("tarnwick"), 0, Group, 0755));
        const mode_t mask = ::umask(077);
        QCOMPARE(save({"root"}), QString("saved"));
        ::umask(mask);
        QCOMPARE(std::pair(Stat(m_at.publishedCopy).st_gid, Stat(m_at.publishedCopy).st_mode & 07777), std::pair(Group, mode_t(0644)));

        // Members of the folders' group save in turn, an outsider may not, and a
        // member's save that would shut the web server out is refused.
        QVERIFY(Own(path("program"), 0, Group, 02775) && Own(path("tarnwick"), 0, Group, 02775));
        QVERIFY(QFile::remove(m_at.publishedCopy) && Own(m_at.workingCopy, 0, Group, 0664));
        for (const uid_t member : {Member, OtherMember})
            QCOMPARE(saveAs(member, {member, Group}, {QString::number(member)}), QString("saved"));
        QCOMPARE(ReadAll(m_at.publishedCopy), Bytes({"4002"}));
        QCOMPARE(std::pair(Stat(m_at.workingCopy).st_uid, Stat(m_at.workingCopy).st_gid), std::pair(OtherMember, Group));
        QString refused = saveAs(Outsider, {Outsider}, {"outsider"});
        QVERIFY2(refused.contains("不能在文件夹 " + path("program")) && refused.contains("4000 组的成员"), qPrintable(refused));
        QVERIFY(Own(m_at.publishedCopy, 0, WebServer, 0640));
        refused = saveAs(Member, {Member, Group}, {"shut out"});
        QVERIFY2(refused.contains("组 www-data") && refused.contains("都没有改动"), qPrintable(refused));
        QCOMPARE(ReadAll(m_at.workingCopy), Bytes({"4002"}));
#endif
    }

    void leftoversOfDeadSavesGo()
    {
#ifdef Q_OS_WIN
        QProcess live;
        qint64 dead = 0;
        QVERIFY(LiveAndDead(live, &dead));
        const QString alive = QString::number(live.processId());
#else
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        const QString alive = "1";
#endif
        const QStringList kept{".inject.txt." + alive + ".tmp", ".inject.txt.x1.tmp", ".other.txt.99999.tmp"};
        for (const QString &name : kept + QStringList{QString(".inject.txt.%1.tmp").arg(dead)})
            QVERIFY(WriteAll(m_at.filterDirectory + '/' + name, "left"));
        QCOMPARE(save({"new"}), QString("saved"));
        QCOMPARE(Entries(m_at.filterDirectory), QStringList(kept + QStringList{"inject.txt"}));
#ifdef Q_OS_WIN
        live.closeWriteChannel();
        QVERIFY(live.waitForFinished());
#endif
    }

    void linkPlantedAfterTheCheckIsReplaced()
    {
        POSIX_ONLY("links, which Wine does not make (CreateSymbolicLinkW does nothing there)");
        QVERIFY(WriteAll(path("victim"), "victim"));
        SafeFile published(m_at.publishedCopy);
        SafeFile::Error error;
        QVERIFY(published.Reach(&error) && published.Inspect(&error));
        QVERIFY(QFile::remove(m_at.publishedCopy) && QFile::link(path("victim"), m_at.publishedCopy));
        QVERIFY2(published.Replace("new\r\n", &error), qPrintable(SystemReason(error.code)));
        QCOMPARE(ReadAll(path("victim")), QByteArray("victim"));
        QVERIFY(!QFileInfo(m_at.publishedCopy).isSymLink() && ReadAll(m_at.publishedCopy) == "new\r\n");
    }

    void unconfirmedCopyStillPublishes()
    {
        POSIX_ONLY("the folder's sync; on Windows the rename itself writes through");
#ifndef Q_OS_WIN
        failFolderSync = true;
        const QString error = save({"new"});
        failFolderSync = false;
        QVERIFY2(error.contains("工作副本 " + m_at.workingCopy + " 已替换，但未能确认") && error.contains("输入/输出错误")
                     && error.contains("发布副本 " + m_at.publishedCopy + " 已替换"),
                 qPrintable(error));
        QCOMPARE(ReadAll(m_at.publishedCopy), Bytes({"new"}));
#endif
    }

    void twoOperatorsSaveInTurn_data()
    {
        QTest::addColumn<OnChange>("choice");
        QTest::addColumn<QStringList>("file");
        QTest::addColumn<bool>("meddle"); // a third save while B is asked
        QTest::newRow("merge") << OnChange::Merge << QStringList{"old", "alpha", "beta"} << false;
        QTest::newRow("overwrite") << OnChange::Overwrite << QStringList{"old", "beta"} << false;
        QTest::newRow("cancel") << OnChange::Cancel << QStringList{"old", "gone", "alpha"} << false;
        QTest::newRow("merge, asked again") << OnChange::Merge << QStringList{"old", "alpha", "gamma", "beta"} << true;
    }

    // A adds alpha and saves; B, who opened the list before that, adds beta,
    // deletes gone, and saves.
    void twoOperatorsSaveInTurn()
    {
        QFETCH(OnChange, choice);
        QFETCH(QStringList, file);
        QFETCH(bool, meddle);
        QVERIFY(WriteAll(m_at.workingCopy, "old\r\ngone\r\n"));
        KeywordList a, b;
        LastSeen seenA, seenB;
        QString error;
        QVERIFY2(LoadWorkingCopy(m_at, a, &error, &seenA) && LoadWorkingCopy(m_at, b, &error, &seenB), qPrintable(error));
        a.Append("alpha");
        QList<KeywordMerge::Changes> asked;
        const ChangedQuestion ask = [&](const QString &path, const KeywordMerge::Changes &theirs) {
            asked << theirs;
            if (meddle && asked.size() == 2 && !WriteAll(path, "old\r\ngone\r\nalpha\r\ngamma\r\n"))
                return OnChange::Cancel;
            return path == m_at.workingCopy ? choice : OnChange::Cancel;
        };
        QVERIFY2(SaveAndPublish(m_at, a, &error, &seenA, ask), qPrintable(error));
        asked << KeywordMerge::Changes(); // A was not asked
        b.Append("beta");
        b.RemoveAt(2);
        QCOMPARE(SaveAndPublish(m_at, b, &error, &seenB, ask), choice != OnChange::Cancel);
        QCOMPARE(error, QString());
        QCOMPARE(asked.size(), meddle ? 3 : 2);
        QCOMPARE(asked.at(1).added + asked.at(1).removed, QStringList{"alpha"});
        QCOMPARE(ReadAll(m_at.workingCopy) + '|' + ReadAll(m_at.publishedCopy), Bytes(file) + '|' + Bytes(file));
        QCOMPARE(b.Texts(), choice == OnChange::Merge ? file : QStringList({"old", "beta"}));
        // Once saved, the next save of the same window asks nothing.
        const qsizetype before = asked.size();
        QVERIFY(choice == OnChange::Cancel || (SaveAndPublish(m_at, b, &error, &seenB, ask) && asked.size() == before));
    }

    void mergeKeepsBothSidesChanges_data()
    {
        QTest::addColumn<QStringList>("base");
        QTest::addColumn<QStringList>("theirs");
        QTest::addColumn<QStringList>("mine");
        QTest::addColumn<QStringList>("merged");
        const QStringList abc{"a", "b", "c"};
        QTest::newRow("both added, in order") << abc << QStringList{"a", "b", "c", "t"} << QStringList{"a", "b", "c", "m", "n"} << QStringList{"a", "b", "c", "t", "m", "n"};
        QTest::newRow("both added the same: once") << abc << QStringList{"a", "b", "c", "x"} << QStringList{"a", "b", "c", "x"} << QStringList{"a", "b", "c", "x"};
        QTest::newRow("they deleted, I kept") << abc << QStringList{"a", "c"} << abc << QStringList{"a", "c"};
        QTest::newRow("they deleted, I added again") << abc << QStringList{"a", "c"} << QStringList{"a", "b", "c", "b"} << QStringList{"a", "c", "b"};
        QTest::newRow("I deleted what they kept") << abc << QStringList{"c", "b", "a", "t"} << QStringList{"a", "c"} << QStringList{"c", "a", "t"};
        QTest::newRow("both deleted the same") << abc << QStringList{"a", "c"} << QStringList{"a", "c"} << QStringList{"a", "c"};
        QTest::newRow("one of a pair each") << QStringList{"a", "a"} << QStringList{"a"} << QStringList{"a", "a", "a"} << QStringList{"a", "a"};
    }

    void mergeKeepsBothSidesChanges()
    {
        QFETCH(QStringList, base);
        QFETCH(QStringList, theirs);
        QFETCH(QStringList, mine);
        QFETCH(QStringList, merged);
        QCOMPARE(KeywordMerge::Merge(base, theirs, mine), merged);
        const KeywordMerge::Changes changes = KeywordMerge::Compare(base, theirs);
        QStringList counted = base;
        for (const QString &keyword : changes.removed)
            QVERIFY2(counted.removeOne(keyword), qPrintable(keyword));
        counted += changes.added;
        std::sort(counted.begin(), counted.end()), std::sort(theirs.begin(), theirs.end());
        QCOMPARE(counted, theirs);
    }

    void saveLeavesOneLogLine_data()
    {
        QTest::addColumn<bool>("published");
        QTest::addColumn<QString>("expected");
        QTest::newRow("saved") << true << R"(result=saved wrote=working,published added=2 removed=1 keywords=+"alpha" +"a \"b\"\x09" -"old" working=")";
        QTest::newRow("not published") << false << R"(result=failed wrote=working added=2 removed=1 keywords=+"alpha" +"a \"b\"\x09" -"old" working=")";
    }

    void saveLeavesOneLogLine()
    {
        POSIX_ONLY("the syslog socket; the Windows event log is not read back here");
#ifndef Q_OS_WIN
        QFETCH(bool, published);
        QFETCH(QString, expected);
        const QByteArray socketPath = QFile::encodeName(path("log"));
        const int log = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(socketPath.cbegin(), socketPath.cend(), address.sun_path);
        QVERIFY(log >= 0 && ::bind(log, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(published || (QDir(m_at.filterDirectory).removeRecursively() && WriteAll(m_at.filterDirectory, "")));
        KeywordList list;
        LastSeen seen;
        QString error;
        QVERIFY2(LoadWorkingCopy(m_at, list, &error, &seen), qPrintable(error));
        list.AppendAll({"alpha", "a \"b\"\t"});
        list.RemoveAt(1);
        SaveRecord::SetDestination(path("log"));
        QCOMPARE(SaveAndPublish(m_at, list, &error, &seen), published);
        SaveRecord::SetDestination(QString());

        char datagram[65536];
        const ssize_t size = ::recv(log, datagram, sizeof datagram, MSG_DONTWAIT);
        const bool more = ::recv(log, datagram + qMax<ssize_t>(size, 0), 1, MSG_DONTWAIT) >= 0;
        ::close(log);
        const QString line = QString::fromUtf8(datagram, qMax<ssize_t>(size, 0));
        const QString who = QStringLiteral(" vantrel-filter[%1]: user=%2 uid=%3 ")
                                .arg(::getpid()).arg(::getpwuid(::geteuid())->pw_name).arg(::geteuid());
        QVERIFY2(line.startsWith("<85>") && line.contains(who + expected) && !more, qPrintable(line));
        QVERIFY2(published || line.endsWith(" reason=\"" + error + '"'), qPrintable(line));
#endif
    }

    void reasonsAreChinese()
    {
        const QRegularExpression latin("[A-Za-z]"), han("\\p{Han}");
#ifdef Q_OS_WIN
        const auto codes = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_USER_MAPPED_FILE,
                            ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND,
                            ERROR_WRITE_PROTECT, ERROR_INVALID_NAME, ERROR_DIRECTORY, ERROR_UNABLE_TO_REMOVE_REPLACED};
#else
        const auto codes = {ENOSPC, EROFS, EACCES, EPERM, ENOTDIR, EISDIR, ENOENT, EFBIG, EDQUOT, ELOOP, EIO, EBUSY};
#endif
        for (const int code : codes)
            QVERIFY2(!SystemReason(code).contains(latin) && SystemReason(code).contains(han), qPrintable(SystemReason(code)));
    }
};

QTEST_GUILESS_MAIN(TestKeywordStore)
#include "tst_keywordstore.moc"
