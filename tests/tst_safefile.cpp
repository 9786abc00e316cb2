#include "TestRow.h"
#include "TestSystem.h"
#include "system/SafeFile.h"

#include <tuple>

#ifndef Q_OS_WIN
#include <sys/syscall.h>
#include <sys/xattr.h>

// When set, the mode of a temporary file as each write to it begins, "+acl" with an ACL.
static QStringList *temporaryModes = nullptr;
extern "C" ssize_t write(int fd, const void *buffer, size_t size)
{
    char target[PATH_MAX];
    const ssize_t length =
            temporaryModes ? ::readlink("/proc/self/fd/" + QByteArray::number(fd), target, sizeof target) : -1;
    struct stat st;
    if (length > 0 && QByteArrayView(target, length).endsWith(".tmp") && ::fstat(fd, &st) == 0)
        *temporaryModes << QString::number(st.st_mode & 07777, 8)
                                   + (::fgetxattr(fd, "system.posix_acl_access", nullptr, 0) > 0 ? "+acl" : "");
    return ::syscall(SYS_write, fd, buffer, size);
}
#endif

class TestSafeFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file; // ROOT/folder/inject.txt
    QString path(const QString &name) const { return m_dir->filePath(name); }

    // Replaces the file as a save does: "replaced", or why not.
    static QString Replace(const QString &path, const QByteArray &bytes)
    {
        SafeFile file(path);
        SafeFile::Error error;
        return file.Reach(&error) && file.Inspect(&error) && file.Replace(bytes, &error) ? QStringLiteral("replaced")
                                                                                         : SafeFile::Explain(error);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_file = path("folder/inject.txt");
        QVERIFY2(m_dir->isValid() && QDir().mkdir(path("folder")) && WriteAll(m_file, Old), qPrintable(m_file));
    }

    void linkSwappedInAfterTheCheckIsNotFollowed_data()
    {
        QTest::addColumn<QString>("swapped"); // the file, or its folder
        QTest::addColumn<bool>("replace");    // else read
        QTest::addColumn<QString>("result");  // what reading gives, or why it failed
        QTest::newRow("the file, then read") << "folder/inject.txt" << false << "符号链接的层数过多";
        QTest::newRow("the folder, then read") << "folder" << false << "old\r\n";
        QTest::newRow("the file, then replaced") << "folder/inject.txt" << true << "";
        QTest::newRow("the folder, then replaced") << "folder" << true << "";
    }

    void linkSwappedInAfterTheCheckIsNotFollowed()
    {
        POSIX_ONLY("links, which Wine does not make (CreateSymbolicLinkW does nothing there)");
        QFETCH(QString, swapped);
        QFETCH(bool, replace);
        SafeFile file(m_file);
        SafeFile::Error error;
        QVERIFY2(file.Reach(&error) && file.Inspect(&error), qPrintable(SafeFile::Explain(error)));
        QVERIFY2(QDir().mkdir(path("victim")) && WriteAll(path("victim/inject.txt"), "victim")
                         && QFile::rename(path(swapped), path("moved"))
                         && QFile::link(path(swapped.contains('/') ? "victim/inject.txt" : "victim"), path(swapped)),
                 "cannot swap in the link");
        QByteArray read;
        const bool done = replace ? file.Replace("new\r\n", &error) : file.Read(&read, &error);
        QCOMPARE(ReadAll(path("victim/inject.txt")), QByteArray("victim"));
        QTEST(done ? QString(read) : SafeFile::Explain(error), "result");
    }

    void newFileKeepsWhatTheOldOneHad_data()
    {
        QTest::addColumn<QString>("given"); // the old file's owner, group, mode and ACL; none: the folder's group's
        QTest::addColumn<int>("umask");
        QTest::addColumn<QString>("kept"); // the new file's
        Row("the web server's, 0640, umask 0: root's, read by the group", "33:33 640", 0, "0:33 640");
        Row("the web server's alone: still its own", "33:33 600", 0, "33:33 600");
        Row("root's, 0440, an ACL for a user", "0:33 440 user:4001:r", 022,
            "0:33 440 user:4001:r-- group::r-- mask::r--");
        Row("set-id bits, which go", "0:4000 6775", 077, "0:4000 775");
        Row("none: readable by all, the folder's group", "", 077, "0:4000 644");
    }

    // Replaced by root, the new file is its owner's alone until it is whole.
    void newFileKeepsWhatTheOldOneHad()
    {
        ROOT_ONLY("owners, groups, modes and POSIX ACLs; Wine keeps no ACL for ReplaceFileW to carry over",
                  "to give the file to other users");
#ifndef Q_OS_WIN
        QFETCH(QString, given);
        QFETCH(int, umask);
        QString failed;
        QVERIFY2(given.isEmpty() ? QFile::remove(m_file) && Own(path("folder"), "0:4000 755", &failed)
                                 : Own(m_file, given, &failed),
                 qPrintable(failed));
        QStringList modes;
        const mode_t mask = ::umask(mode_t(umask));
        temporaryModes = &modes;
        const QString result = Replace(m_file, "root");
        temporaryModes = nullptr;
        ::umask(mask);
        QCOMPARE(result, QString("replaced"));
        QCOMPARE(modes, QStringList{"600"}); // as each write began
        QTEST(Ownership(m_file), "kept");
#endif
    }

    void onlySaversMayOpenTheLock_data()
    {
        QTest::addColumn<QString>("given");  // the lock file found there: owner, group, mode and ACL; none yet
        QTest::addColumn<bool>("elsewhere"); // the lock file is a second name of a file outside the folder
        QTest::addColumn<int>("saver");
        QTest::addColumn<QString>("result"); // "locked", or in the message
        QTest::addColumn<QString>("after");  // the file's owner, group, mode and ACL
        Row("none yet: the folder's group's, not the saver's own", "", false, Member, "locked", "4001:4000 660");
        Row("root's, the group's: a member uses it", "0:4000 660", false, Member, "locked", "0:4000 660");
        Row("the saver's own, open to all: made the group's alone", "4001:4001 666 user:4003:rw", false, Member,
            "locked", "4001:4000 660");
        Row("root's, 0664 after a restore: a member refuses it", "0:4000 664", false, Member,
            "也允许所有用户（权限 0664）打开", "0:4000 664");
        Row("root's, an ACL entry for an outsider", "0:4000 660 user:4003:rw", false, Member,
            "也允许ACL 项 user:4003:rw- 所指的账户打开", "0:4000 660 user:4003:rw- group::rw- mask::rw-");
        Row("root's, another group's", "0:33 660", false, Member, "属于组 www-data，不是它所在文件夹的组", "0:33 660");
        Row("a member's, which another member could not open", "4001:4001 660", false, OtherMember,
            "属于用户 4001，不属于 root 或你（4002）", "4001:4001 660");
        Row("a member's, open to all: root leaves it", "4001:4000 666", false, 0,
            "属于用户 4001，不属于 root 或你（root）", "4001:4000 666");
        Row("root's web page, which a member may write, linked in: root leaves it", "0:33 664", true, 0,
            "有 2 个名称（硬链接）", "0:33 664");
        Row("an outsider: members may save", "0:4000 660", false, Outsider,
            "只有 4000 组的成员可以在这里保存：请管理员执行“adduser 4003 4000”", "0:4000 660");
    }

    // Anyone else who could open the lock file could hold a read lock that
    // keeps every save out; a file that only looks like the lock file is
    // never changed.
    void onlySaversMayOpenTheLock()
    {
        ROOT_ONLY("owners, modes, ACLs and hard links", "to make the lock file other users'");
#ifndef Q_OS_WIN
        QFETCH(QString, given);
        QFETCH(bool, elsewhere);
        const QString lock = path("folder/.inject.txt.lock"), outside = path("index.html");
        const QString file = elsewhere ? outside : lock;
        QString failed;
        QVERIFY2(
                ::chmod(QFile::encodeName(m_dir->path()), 0755) == 0 && Own(path("folder"), "0:4000 775", &failed)
                        && (given.isEmpty() || (WriteAll(file, {}) && Own(file, given, &failed)))
                        && (!elsewhere
                            || Done(::link(QFile::encodeName(outside), QFile::encodeName(lock)) == 0, "link", &failed)),
                qPrintable(failed));
        QFETCH(int, saver);
        QString told;
        const auto takeLock = [&] {
            SafeFile safe(m_file);
            SafeFile::Error error;
            told = safe.Reach(&error) && safe.Lock(std::chrono::milliseconds(0), &error) ? "locked"
                                                                                         : SafeFile::Explain(error);
        };
        QVERIFY2(AsUser(uid_t(saver), takeLock), "cannot become the saver");
        QFETCH(QString, result);
        QVERIFY2(told.contains(result)
                         && (result == "locked" || told.contains(saver == Outsider ? path("folder") : lock)),
                 qPrintable(told));
        QTEST(Ownership(file), "after");
#endif
    }

    // Only a save's own new file goes, once its process is gone; another
    // user's save that still runs keeps its file.
    void leftoversOfDeadSavesGo()
    {
        QProcess live, gone; // a process in use while the test runs, and one that is not
#ifdef Q_OS_WIN
        live.start("cmd.exe", {"/c", "pause"}); // until it is killed
        gone.start("cmd.exe", {"/c", "exit"});
#else
        // Root may signal anyone's process; another user's answers "not permitted".
        if (!PrivateRoot())
            QSKIP("needs root, to save as another user than the live save's");
        live.setChildProcessModifier([] { std::ignore = ::setgid(Member) == 0 && ::setuid(Member) == 0; });
        live.start("sleep", {"60"});
        gone.start("true", {});
#endif
        QVERIFY2(live.waitForStarted() && gone.waitForStarted(), qPrintable(live.errorString() + gone.errorString()));
        // Hidden files whose names only look like a save's, of processes that never ran.
        const QStringList kept{QString(".inject.txt.%1.tmp").arg(live.processId()), ".inject.txt.x1.tmp",
                               ".other.txt.99999.tmp", ".inject.txt.20240101.bak", ".inject.txt.99999.tmp.bak"};
        for (const QString &name : kept + QStringList{QString(".inject.txt.%1.tmp").arg(gone.processId())})
            QVERIFY2(WriteAll(path("folder/" + name), "left"), qPrintable(name));
        QVERIFY2(gone.waitForFinished(), qPrintable(gone.errorString()));
#ifdef Q_OS_WIN
        const QString replaced = Replace(m_file, "new");
#else
        QVERIFY2(::chmod(QFile::encodeName(m_dir->path()), 0755) == 0
                         && ::chmod(QFile::encodeName(path("folder")), 0777) == 0,
                 qPrintable(SystemReason(errno)));
        QString replaced;
        QVERIFY2(AsUser(OtherMember, [&] { replaced = Replace(m_file, "new"); }), "cannot become another user");
#endif
        QCOMPARE(replaced, QString("replaced"));
        live.kill();
        QVERIFY2(live.waitForFinished(), qPrintable(live.errorString()));
        QStringList left = kept + QStringList{"inject.txt"};
        left.sort();
        QCOMPARE(Entries(path("folder")), left);
    }

    void linksFollowedBy_data()
    {
        QTest::addColumn<QString>("owner"); // of the link, as the system numbers accounts
        QTest::addColumn<QString>("user");  // running the program
        QTest::addColumn<bool>("followed");
#ifdef Q_OS_WIN
        const QString me = "S-1-5-21-1004336348-1177238915-682003330-1001";
        QTest::newRow("Administrators'") << "S-1-5-32-544" << me << true;
        QTest::newRow("SYSTEM's") << "S-1-5-18" << me << true;
        QTest::newRow("the user's own") << me << me << true;
        QTest::newRow("another user's") << "S-1-5-21-1004336348-1177238915-682003330-1002" << me << false;
        QTest::newRow("the Users group's") << "S-1-5-32-545" << me << false;
        QTest::newRow("Everyone's") << "S-1-1-0" << me << false;
#else
        const QString me = "1001";
        QTest::newRow("root's") << "0" << me << true;
        QTest::newRow("the user's own") << me << me << true;
        QTest::newRow("another user's") << "1002" << me << false;
        QTest::newRow("a user whose number begins like the user's") << "10010" << me << false;
#endif
        QTest::newRow("an owner the system could not tell") << "" << me << false;
    }

    // The rule for links on the way, on both systems, though Wine makes no links.
    void linksFollowedBy()
    {
        QFETCH(QString, owner);
        QFETCH(QString, user);
        QTEST(SafeFile::MayFollow(owner, user), "followed");
    }
};

QTEST_GUILESS_MAIN(TestSafeFile)
#include "tst_safefile.moc"
