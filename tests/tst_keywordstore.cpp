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
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// Root, other users, POSIX ACLs, private mounts and the sync interposer are
// POSIX; Wine makes no symbolic links or junctions (CreateSymbolicLinkW does
// nothing there), so links, another user's above all, are left to POSIX too.
#ifdef Q_OS_WIN
#define POSIX_ONLY(what) QSKIP("POSIX only: " what)
#define ROOT_ONLY(posix, root) QSKIP("POSIX only: " posix)
#else
#define POSIX_ONLY(what) do {} while (false)
#define ROOT_ONLY(posix, root) do { if (!m_root) QSKIP("needs root, " root); } while (false)

// The one failure no file system here makes on demand: a folder's sync.
static bool failFolderSync = false;
extern "C" int fsync(int fd)
{
    struct stat st;
    if (failFolderSync && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        return errno = EIO, -1;
    return int(::syscall(SYS_fsync, fd));
}

// When set, the mode of a temporary file as each write to it begins, "+acl" with an ACL.
static QStringList *temporaryModes = nullptr;
extern "C" ssize_t write(int fd, const void *buffer, size_t size)
{
    char target[PATH_MAX];
    const ssize_t length = temporaryModes ? ::readlink("/proc/self/fd/" + QByteArray::number(fd), target, sizeof target) : -1;
    struct stat st;
    if (length > 0 && QByteArrayView(target, length).endsWith(".tmp") && ::fstat(fd, &st) == 0)
        *temporaryModes << QString::number(st.st_mode & 07777, 8)
                               + (::fgetxattr(fd, "system.posix_acl_access", nullptr, 0) > 0 ? "+acl" : "");
    return ::syscall(SYS_write, fd, buffer, size);
}
#endif

namespace {

const QByteArray Old = "old\r\n";

QByteArray Bytes(const QStringList &keywords) { return KeywordFile::Encode(keywords).bytes; }

// Users and groups, which rows name on every platform and only POSIX runs.
constexpr int Member = 4001, OtherMember = 4002, Outsider = 4003, Group = 4000, WebServer = 33;

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

#else

bool Own(const QString &path, uid_t user, gid_t group, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name, user, group) == 0 && ::chmod(name, mode) == 0;
}

// Owner, group, mode and ACL, as getfacl shows them, without the file's name.
QString Looks(const QString &path)
{
    QProcess getfacl;
    getfacl.start("getfacl", {"-n", path});
    return getfacl.waitForFinished() && getfacl.exitCode() == 0 ? QString(getfacl.readAll()).section('\n', 1) : "no getfacl";
}
#endif

// A process id that is in use while the test runs, and one that is not.
bool LiveAndDead(QProcess &live, qint64 *dead)
{
    QProcess gone;
#ifdef Q_OS_WIN
    live.start("cmd.exe", {"/c", "pause"}); // until it is killed
    gone.start("cmd.exe", {"/c", "exit"});
#else
    live.start("sleep", {"60"});
    gone.start("true", {});
#endif
    if (!live.waitForStarted() || !gone.waitForStarted())
        return false;
    *dead = gone.processId();
    return gone.waitForFinished() && *dead != 0;
}

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
    QString saveAs(int user, const QList<int> &groupIds, const QStringList &keywords) const
    {
        QList<gid_t> groups(groupIds.cbegin(), groupIds.cend());
        if (::setgroups(groups.size(), groups.data()) || ::setegid(groups.first()) || ::seteuid(uid_t(user)))
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
        m_at = Locations::InRoot(m_dir->path());
        QVERIFY(QDir().mkpath(path("program")) && QDir().mkpath(path("tarnwick")));
        QVERIFY(WriteAll(m_at.workingCopy, Old) && WriteAll(m_at.publishedCopy, Old));
    }

    void cleanup()
    {
#ifndef Q_OS_WIN
        for (const QString &mounted : {m_at.workingCopy, m_at.publishedCopy, path("program"), path("tarnwick")})
            ::umount2(QFile::encodeName(mounted), MNT_DETACH);
#endif
    }

    void fixedLocations_data()
    {
        QTest::addColumn<QString>("programDirectory");
        QTest::addColumn<QString>("workingCopy");
        QTest::addColumn<QString>("filterFolderAndPublished");
#ifdef Q_OS_WIN
        // "/inject.txt" follows the folder in the system's form as it is, a root's "\\" too.
        const QString fixed = "c:\\tarnwick|C:\\tarnwick\\inject.txt";
        QTest::newRow("a drive's root") << "C:/" << "C:\\/inject.txt" << fixed;
        QTest::newRow("a folder") << "C:/Program Files/vantrel-filter" << "C:\\Program Files\\vantrel-filter/inject.txt" << fixed;
#else
        QTest::newRow("the root") << "/" << "//inject.txt" << "/tarnwick|/tarnwick/inject.txt";
        QTest::newRow("a folder") << "/opt/vantrel-filter" << "/opt/vantrel-filter/inject.txt" << "/tarnwick|/tarnwick/inject.txt";
#endif
    }

    void fixedLocations()
    {
        QFETCH(QString, programDirectory);
        const Locations at = Locations::ForProgramDirectory(programDirectory);
        QTEST(at.workingCopy, "workingCopy");
        QTEST(at.filterDirectory + '|' + at.publishedCopy, "filterFolderAndPublished");
    }

    void savesBothCopiesWhole_data()
    {
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QString>("link"); // a part of the way that is root's link
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("rootOnly");
        QTest::newRow("empty list, zero-byte files") << QStringList() << "" << QByteArray() << false;
        QTest::newRow("Chinese, empty, duplicate, spaces")
            << QStringList{QStringLiteral("你好"), "", "union", QStringLiteral("你好"), " x "} << ""
            << QByteArray("\xc4\xe3\xba\xc3\r\n\r\nunion\r\n\xc4\xe3\xba\xc3\r\n x \r\n") << false;
        QTest::newRow("the defaults, as shipped") << DefaultKeywords() << "" << ReadAll(SHIPPED_WORKING_COPY) << false;
        for (const char *link : {"program/inject.txt", "tarnwick"})
            QTest::addRow("through root's link %s", link) << QStringList{"new"} << link << QByteArray("new\r\n") << true;
    }

    void savesBothCopiesWhole()
    {
        QFETCH(QStringList, keywords);
        QFETCH(QString, link);
        QFETCH(bool, rootOnly);
        if (rootOnly)
            ROOT_ONLY("links, which Wine does not make (CreateSymbolicLinkW does nothing there)", "to give a link to root");
        // A reader that holds the old file keeps reading all of it: the copy is a new file.
        QFile reader(m_at.publishedCopy);
#ifdef Q_OS_WIN
        QVERIFY(OpenSharingDelete(reader, m_at.publishedCopy));
#else
        QVERIFY(link.isEmpty() || linkAside(link, 0));
        QVERIFY(reader.open(QIODevice::ReadOnly));
#endif

        QCOMPARE(save(keywords), QString("saved"));
        QFETCH(QByteArray, file);
        QCOMPARE(ReadAll(m_at.workingCopy) + '|' + ReadAll(m_at.publishedCopy), file + '|' + file);
        QCOMPARE(reader.readAll(), Old);
        reader.close(); // on Windows the old file keeps a name while it is open
        QVERIFY(link.isEmpty() || QFileInfo(path(link)).isSymLink());
        QCOMPARE(Entries(path("program")) + Entries(m_at.filterDirectory), QStringList({"inject.txt", "inject.txt"}));
    }

    void failedSaveKeepsEachCopyWhole_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("place");    // where it is
        QTest::addColumn<int>("count");        // keywords to save
        QTest::addColumn<bool>("rootOnly");    // private mounts and other users
        QTest::addColumn<QString>("expected"); // in the message
        QTest::addColumn<bool>("workingSaved");
        QTest::addColumn<QByteArray>("published"); // what the published copy holds after

        const QByteArray none = "<no file>";
        QTest::newRow("working folder read-only") << "read-only" << "program" << 3 << true << "文件系统是只读的" << false << Old;
        QTest::newRow("working folder full") << "full" << "program" << 20000 << true << "磁盘空间不足" << false << Old;
        QTest::newRow("working copy mounted alone: the rename fails") << "mounted" << "program/inject.txt" << 3 << true << "单独挂载的文件" << false << Old;
        QTest::newRow("filter folder read-only") << "read-only" << "tarnwick" << 20000 << true << "文件系统是只读的" << true << Old;
        QTest::newRow("filter folder full") << "full" << "tarnwick" << 3 << true << "磁盘空间不足" << true << Old;
        QTest::newRow("published copy mounted alone: the rename fails") << "mounted" << "tarnwick/inject.txt" << 3 << true << "单独挂载的文件" << true << Old;
        QTest::newRow("filter folder a plain file") << "file" << "tarnwick" << 3 << false << "不是文件夹" << true << none;
        QTest::newRow("published copy a folder") << "folder" << "tarnwick/inject.txt" << 3 << false << "是一个文件夹" << true << none;
        QTest::newRow("a keyword with a line break") << "keyword" << "" << 3 << false << "第 4 个关键字 “a\\nb” 含有换行符" << false << Old;
#ifdef Q_OS_WIN
        QTest::newRow("published copy held by a reader") << "held" << "tarnwick/inject.txt" << 3 << false << "正被另一个程序使用" << true << Old;
#endif
        for (const char *link : {"program/inject.txt", "program", "tarnwick/inject.txt", "tarnwick"})
            QTest::addRow("another user's link %s", link) << "link" << link << 3 << true << "是用户 4001 的符号链接" << false << Old;
    }

    void failedSaveKeepsEachCopyWhole()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, place);
        QFETCH(int, count);
        QFETCH(bool, rootOnly);
        if (rootOnly)
            ROOT_ONLY("private mounts and other users' links", "for private mounts and other users' links");
#ifndef Q_OS_WIN
        const QByteArray where = QFile::encodeName(path(place));
        if (obstacle == "full")
            QVERIFY(::mount("tmpfs", where, "tmpfs", 0, "size=64k") == 0 && WriteAll(path(place) + "/inject.txt", Old)
                    && !WriteAll(path(place) + "/filler", QByteArray(70000, 'f')));
        if (obstacle == "read-only")
            QVERIFY(::mount(where, where, nullptr, MS_BIND, nullptr) == 0
                    && ::mount(nullptr, where, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
        QVERIFY(obstacle != "mounted" || ::mount(where, where, nullptr, MS_BIND, nullptr) == 0);
        QVERIFY(obstacle != "link" || linkAside(place, Member));
#endif
        QVERIFY(obstacle != "file" || (QDir(path(place)).removeRecursively() && WriteAll(path(place), "a file")));
        QVERIFY(obstacle != "folder" || (QFile::remove(path(place)) && QDir().mkdir(path(place))));
        QFile reader(path(place)); // Qt's files do not share deleting
        QVERIFY(obstacle != "held" || reader.open(QIODevice::ReadOnly));
        QStringList keywords;
        for (int i = 0; i < count; ++i)
            keywords << QStringLiteral("管理%1").arg(i);
        if (obstacle == "keyword")
            keywords << QStringLiteral("a\nb");

        const QString error = save(keywords);
        reader.close();
        QFETCH(QString, expected);
        QFETCH(bool, workingSaved);
        QVERIFY2(error.contains(expected) && (place.isEmpty() || error.contains(path(place))), qPrintable(error));
        QVERIFY2(error.contains(workingSaved ? "已保存" : "都没有改动"), qPrintable(error));
        QCOMPARE(ReadAll(m_at.workingCopy), workingSaved ? Bytes(keywords) : Old);
        QTEST(ReadAll(m_at.publishedCopy), "published");
        for (const QString &folder : {path("program"), path("tarnwick"), path("real")})
            QVERIFY2(Entries(folder).filter(".tmp").isEmpty(), qPrintable(Entries(folder).join(' ')));
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

    void startUpRefusesAnotherUsersLink_data()
    {
        QTest::addColumn<QString>("place");
        for (const char *link : {"program/inject.txt", "program", "tarnwick/inject.txt", "tarnwick"})
            QTest::newRow(link) << link;
    }

    void startUpRefusesAnotherUsersLink()
    {
        ROOT_ONLY("links, which Wine does not make (CreateSymbolicLinkW does nothing there)", "for another user's link");
#ifndef Q_OS_WIN
        QFETCH(QString, place);
        QVERIFY(linkAside(place, Member));
        KeywordList list;
        QString error;
        QVERIFY(!RunStartUp(m_at, list, &error));
        QVERIFY2(error.contains(path(place) + " 是用户 4001 的符号链接"), qPrintable(error));
#endif
    }

    void keepsWhatTheOldCopyHad_data()
    {
        QTest::addColumn<bool>("existed");
        QTest::addColumn<int>("owner");
        QTest::addColumn<int>("group"); // the old copy's, or else the folder's
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("acl"); // for setfacl -m, or none
        QTest::addColumn<int>("keptMode");
        QTest::newRow("the web server's, 0640") << true << WebServer << WebServer << 0640 << "" << 0640;
        QTest::newRow("root's, 0440, an ACL for a user") << true << 0 << WebServer << 0440 << "u:4001:r" << 0440;
        QTest::newRow("set-id bits, which go") << true << 0 << Group << 06775 << "" << 0775;
        QTest::newRow("none: readable by all, the folder's group") << false << 0 << Group << 0 << "" << 0644;
    }

    // Saved by root under umask 077, the published copy keeps what it had.
    void keepsWhatTheOldCopyHad()
    {
        ROOT_ONLY("owners, groups, modes and POSIX ACLs; Wine keeps no ACL for ReplaceFileW to carry over",
                  "to give the copy to other users");
#ifndef Q_OS_WIN
        QFETCH(bool, existed);
        QFETCH(int, owner);
        QFETCH(int, group);
        QFETCH(int, mode);
        QFETCH(QString, acl);
        QFETCH(int, keptMode);
        const QString expected = path("expected");
        QVERIFY(WriteAll(expected, Old) && Own(expected, owner, group, mode_t(keptMode)));
        QVERIFY(existed ? Own(m_at.publishedCopy, owner, group, mode_t(mode))
                        : QFile::remove(m_at.publishedCopy) && Own(path("tarnwick"), 0, group, 0755));
        for (const QString &file : {expected, m_at.publishedCopy})
            QVERIFY(acl.isEmpty() || QProcess::execute("setfacl", {"-m", acl, file}) == 0);
        const mode_t mask = ::umask(077);
        const QString result = save({"root"});
        ::umask(mask);
        QCOMPARE(result, QString("saved"));
        QCOMPARE(Looks(m_at.publishedCopy), Looks(expected));
#endif
    }

    void temporaryFileIsOnlyTheOwnersWhileWritten_data()
    {
        QTest::addColumn<int>("umask");
        QTest::addColumn<QString>("acl"); // on the old copy, for setfacl -m
        QTest::newRow("umask 0") << 0 << "";
        QTest::newRow("umask 0277") << 0277 << "";
        QTest::newRow("an ACL on the old copy") << 022 << "u:4001:r";
    }

    void temporaryFileIsOnlyTheOwnersWhileWritten()
    {
        POSIX_ONLY("modes and POSIX ACLs");
#ifndef Q_OS_WIN
        QFETCH(int, umask);
        QFETCH(QString, acl);
        QVERIFY(acl.isEmpty() || QProcess::execute("setfacl", {"-m", acl, m_at.publishedCopy}) == 0);
        QStringList modes;
        const mode_t mask = ::umask(mode_t(umask));
        temporaryModes = &modes;
        const QString result = save({"secret"});
        temporaryModes = nullptr;
        ::umask(mask);
        QCOMPARE(result, QString("saved"));
        QCOMPARE(modes, QStringList({"600", "600"})); // one write to each copy
#endif
    }

    void whoMaySave_data()
    {
        QTest::addColumn<QList<int>>("groups");  // of the one who saves, the first its own
        QTest::addColumn<int>("publishedGroup"); // of root's published copy
        QTest::addColumn<int>("publishedMode");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QByteArray>("after"); // in both copies
        QTest::newRow("a member, over another's working copy") << QList<int>{OtherMember, Group} << Group << 0644 << "saved" << Bytes({"new"});
        QTest::newRow("an outsider") << QList<int>{Outsider} << Group << 0644 << "不能在文件夹 ROOT/program 中写入。只有 4000 组的成员" << Old;
        QTest::newRow("a member who would shut the web server out") << QList<int>{Member, Group} << WebServer << 0640
                                                                     << "ROOT/tarnwick/inject.txt 只允许用户 root 和组 www-data 读取" << Old;
    }

    // Members of the folders' group may save, over each other's copies too.
    void whoMaySave()
    {
        ROOT_ONLY("other users", "to save as other users");
#ifndef Q_OS_WIN
        QFETCH(QList<int>, groups);
        QFETCH(int, publishedGroup);
        QFETCH(int, publishedMode);
        QFETCH(QString, expected);
        QVERIFY(Own(path("program"), 0, Group, 02775) && Own(path("tarnwick"), 0, Group, 02775));
        QVERIFY(Own(m_at.workingCopy, Member, Group, 0664) && Own(m_at.publishedCopy, 0, publishedGroup, mode_t(publishedMode)));
        const QString result = saveAs(groups.first(), groups, {"new"});
        QVERIFY2(result.contains(expected.replace("ROOT", m_dir->path())), qPrintable(result));
        QFETCH(QByteArray, after);
        QCOMPARE(ReadAll(m_at.workingCopy) + ReadAll(m_at.publishedCopy), after + after);
#endif
    }

    void leftoversOfDeadSavesGo_data()
    {
        QTest::addColumn<bool>("byAnotherUser"); // the live process an outsider's, saved by a member
        QTest::newRow("the saver's own live process") << false;
        QTest::newRow("another user's live process") << true;
    }

    void leftoversOfDeadSavesGo()
    {
        QFETCH(bool, byAnotherUser);
        if (byAnotherUser)
            ROOT_ONLY("other users", "to save as another user");
        QProcess live;
#ifndef Q_OS_WIN
        if (byAnotherUser) // a process that the saver may not even signal
            live.setChildProcessModifier([] { std::ignore = ::setgid(Outsider) + ::setuid(Outsider); });
#endif
        qint64 dead = 0;
        QVERIFY(LiveAndDead(live, &dead));
        const QString alive = QString::number(live.processId());
        const QStringList kept{".inject.txt." + alive + ".tmp", ".inject.txt.x1.tmp", ".other.txt.99999.tmp"};
        for (const QString &name : kept + QStringList{QString(".inject.txt.%1.tmp").arg(dead)})
            QVERIFY(WriteAll(m_at.filterDirectory + '/' + name, "left"));
#ifdef Q_OS_WIN
        QCOMPARE(save({"new"}), QString("saved"));
#else
        QVERIFY(!byAnotherUser || (Own(path("program"), 0, Group, 0775) && Own(path("tarnwick"), 0, Group, 0775)));
        QVERIFY(!byAnotherUser || (Own(m_at.workingCopy, 0, Group, 0664) && Own(m_at.publishedCopy, 0, Group, 0664)));
        QCOMPARE(byAnotherUser ? saveAs(Member, {Member, Group}, {"new"}) : save({"new"}), QString("saved"));
#endif
        live.kill();
        QVERIFY(live.waitForFinished());
        QCOMPARE(Entries(m_at.filterDirectory), QStringList(kept + QStringList{"inject.txt"}));
    }

    void linkSwappedInAfterTheCheckIsNotFollowed_data()
    {
        QTest::addColumn<QString>("swapped"); // the published copy, or its folder
        QTest::addColumn<bool>("replace");    // else read
        QTest::addColumn<QByteArray>("read"); // what reading gives
        QTest::newRow("the file, then read") << "tarnwick/inject.txt" << false << QByteArray("refused");
        QTest::newRow("the folder, then read") << "tarnwick" << false << Old;
        QTest::newRow("the file, then replaced") << "tarnwick/inject.txt" << true << QByteArray();
        QTest::newRow("the folder, then replaced") << "tarnwick" << true << QByteArray();
    }

    void linkSwappedInAfterTheCheckIsNotFollowed()
    {
        POSIX_ONLY("links, which Wine does not make (CreateSymbolicLinkW does nothing there)");
        QFETCH(QString, swapped);
        QFETCH(bool, replace);
        QVERIFY(QDir().mkdir(path("victim")) && WriteAll(path("victim/inject.txt"), "victim"));
        SafeFile published(m_at.publishedCopy);
        SafeFile::Error error;
        QVERIFY(published.Reach(&error) && published.Inspect(&error));
        QVERIFY(QFile::rename(path(swapped), path("moved")));
        QVERIFY(QFile::link(path(swapped.contains('/') ? "victim/inject.txt" : "victim"), path(swapped)));
        QByteArray read = "refused";
        if (replace)
            QVERIFY2(published.Replace("new\r\n", &error), qPrintable(SystemReason(error.code)));
        else
            std::ignore = published.Read(&read, &error);
        QCOMPARE(ReadAll(path("victim/inject.txt")), QByteArray("victim"));
        if (!replace)
            QTEST(read, "read");
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
