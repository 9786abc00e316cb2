#include "system/SafeFile.h"
#include "TestSystem.h"

#include <QProcess>

#ifndef Q_OS_WIN
#include <sys/syscall.h>
#include <sys/xattr.h>

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

// Replaces the file as a save does: "replaced", or why not.
QString Replace(const QString &path, const QByteArray &bytes)
{
    SafeFile file(path);
    SafeFile::Error error;
    return file.Reach(&error) && file.Inspect(&error) && file.Replace(bytes, &error) ? QStringLiteral("replaced")
                                                                                      : SafeFile::Explain(error);
}

#ifndef Q_OS_WIN
// Owner, group, mode and ACL, as getfacl shows them, without the file's name.
QString Looks(const QString &path)
{
    QProcess getfacl;
    getfacl.start("getfacl", {"-n", path});
    return getfacl.waitForFinished() && getfacl.exitCode() == 0 ? QString(getfacl.readAll()).section('\n', 1) : "no getfacl";
}
#endif

} // namespace

class TestSafeFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file; // ROOT/folder/inject.txt
    QString path(const QString &name) const { return m_dir->filePath(name); }

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
        QTest::addColumn<int>("owner");
        QTest::addColumn<int>("group"); // the old file's, or else the folder's
        QTest::addColumn<int>("mode"); // of the old file, or 0: none
        QTest::addColumn<QString>("acl"); // for setfacl -m, or none
        QTest::addColumn<int>("umask");
        QTest::addColumn<int>("keptMode");
        QTest::newRow("the web server's, 0640, umask 0") << WebServer << WebServer << 0640 << "" << 0 << 0640;
        QTest::newRow("root's, 0440, an ACL for a user") << 0 << WebServer << 0440 << "u:4001:r" << 022 << 0440;
        QTest::newRow("set-id bits, which go") << 0 << Group << 06775 << "" << 077 << 0775;
        QTest::newRow("none: readable by all, the folder's group") << 0 << Group << 0 << "" << 077 << 0644;
    }

    // Replaced by root, the new file is its owner's alone until it is whole.
    void newFileKeepsWhatTheOldOneHad()
    {
        ROOT_ONLY("owners, groups, modes and POSIX ACLs; Wine keeps no ACL for ReplaceFileW to carry over",
                  "to give the file to other users");
#ifndef Q_OS_WIN
        QFETCH(int, owner);
        QFETCH(int, group);
        QFETCH(int, mode);
        QFETCH(QString, acl);
        QFETCH(int, umask);
        QFETCH(int, keptMode);
        const QString expected = path("expected");
        QString failed;
        QVERIFY2(WriteAll(expected, Old) && Own(expected, owner, group, mode_t(keptMode), &failed)
                     && (mode ? Own(m_file, owner, group, mode_t(mode), &failed)
                              : QFile::remove(m_file) && Own(path("folder"), 0, group, 0755, &failed)),
                 qPrintable(failed));
        for (const QString &file : {expected, m_file})
            QVERIFY2(acl.isEmpty() || QProcess::execute("setfacl", {"-m", acl, file}) == 0, "setfacl failed");
        QStringList modes;
        const mode_t mask = ::umask(mode_t(umask));
        temporaryModes = &modes;
        const QString result = Replace(m_file, "root");
        temporaryModes = nullptr;
        ::umask(mask);
        QCOMPARE(result, QString("replaced"));
        QCOMPARE(modes, QStringList{"600"}); // as each write began
        QCOMPARE(Looks(m_file), Looks(expected));
#endif
    }

    void leftoversOfDeadSavesGo()
    {
        QProcess live, gone; // a process in use while the test runs, and one that is not
#ifdef Q_OS_WIN
        live.start("cmd.exe", {"/c", "pause"}); // until it is killed
        gone.start("cmd.exe", {"/c", "exit"});
#else
        live.start("sleep", {"60"});
        gone.start("true", {});
#endif
        QVERIFY2(live.waitForStarted() && gone.waitForStarted(), qPrintable(live.errorString() + gone.errorString()));
        const QStringList kept{QString(".inject.txt.%1.tmp").arg(live.processId()), ".inject.txt.x1.tmp", ".other.txt.99999.tmp"};
        for (const QString &name : kept + QStringList{QString(".inject.txt.%1.tmp").arg(gone.processId())})
            QVERIFY2(WriteAll(path("folder/" + name), "left"), qPrintable(name));
        QVERIFY2(gone.waitForFinished(), qPrintable(gone.errorString()));
        QCOMPARE(Replace(m_file, "new"), QString("replaced"));
        live.kill();
        QVERIFY2(live.waitForFinished(), qPrintable(live.errorString()));
        QCOMPARE(Entries(path("folder")), QStringList(kept + QStringList{"inject.txt"}));
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
