#include "Form1.h"
#include "KeywordFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <cerrno>
#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QStringList Keywords(const QString &stem, int count)
{
    // Mixed ASCII and Chinese, so that the bytes differ in length from the text.
    QStringList keywords;
    for (int i = 0; i < count; ++i)
        keywords << (i % 3 ? stem + QString::number(i) : QStringLiteral("管理%1").arg(i));
    return keywords;
}

QByteArray Bytes(const QStringList &keywords)
{
    return KeywordFile::Encode(keywords).bytes;
}

// Writes until the file system says it is full.
bool Fill(const QString &path)
{
    QFile filler(path);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
    while (filler.write("f", 1) == 1) {
    }
    return true;
}

QString KeywordTool()
{
    return QCoreApplication::applicationDirPath() + "/keyword_tool";
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void failedSaveKeepsBothCopiesWhole_data();
    void failedSaveKeepsBothCopiesWhole();
    void readersSeeOnlyWholeVersions();
    void killedSaveLeavesWholeVersions();
    void badWorkingCopiesAreRefusedOrLoaded_data();
    void badWorkingCopiesAreRefusedOrLoaded();

private:
    bool m_privateMounts = false;
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_mounts;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    bool mountTmpfs(const QString &where, int kibibytes);
    bool mountReadOnly(const QString &where);
};

void TestFaults::initTestCase()
{
    // Real faults need root: a private mount namespace, where read-only and
    // full file systems can be made without touching the machine's own.
    m_privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
                      && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!m_privateMounts)
        qWarning("not root or no mount namespace: the fault tests that need one are skipped");
}

void TestFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestFaults::cleanup()
{
    while (!m_mounts.isEmpty())
        ::umount2(QFile::encodeName(m_mounts.takeLast()).constData(), MNT_DETACH);
    m_dir.reset();
}

bool TestFaults::mountTmpfs(const QString &where, int kibibytes)
{
    const QByteArray options = "size=" + QByteArray::number(kibibytes) + "k,mode=0755";
    if (::mount("tmpfs", QFile::encodeName(where).constData(), "tmpfs", 0, options.constData()) != 0)
        return false;
    m_mounts << where;
    return true;
}

bool TestFaults::mountReadOnly(const QString &where)
{
    const QByteArray target = QFile::encodeName(where);
    if (::mount(target.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
        return false;
    m_mounts << where;
    return ::mount(nullptr, target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

void TestFaults::failedSaveKeepsBothCopiesWhole_data()
{
    QTest::addColumn<QString>("place");    // "program" or "tarnwick"
    QTest::addColumn<QString>("obstacle"); // what goes wrong there
    QTest::addColumn<int>("added");        // keywords added before saving
    QTest::addColumn<QString>("reason");

    QTest::newRow("working folder read-only") << "program" << "read-only" << 3 << "Read-only file system";
    QTest::newRow("working folder full, small list") << "program" << "full" << 3 << "No space left";
    QTest::newRow("working folder full, large list") << "program" << "full" << 20000 << "No space left";
    QTest::newRow("filter folder read-only") << "tarnwick" << "read-only" << 3 << "Read-only file system";
    QTest::newRow("filter folder full, small list") << "tarnwick" << "full" << 3 << "No space left";
    QTest::newRow("filter folder full, large list") << "tarnwick" << "full" << 20000 << "No space left";
    QTest::newRow("filter folder a plain file") << "tarnwick" << "file" << 3 << "Not a directory";
    QTest::newRow("published copy a directory") << "tarnwick" << "directory" << 3 << "directory";
}

void TestFaults::failedSaveKeepsBothCopiesWhole()
{
    QFETCH(QString, place);
    QFETCH(QString, obstacle);
    QFETCH(int, added);
    QFETCH(QString, reason);
    if (!m_privateMounts && (obstacle == "read-only" || obstacle == "full"))
        QSKIP("needs root and a private mount namespace");

    const Locations at{path("program/inject.txt"), path("tarnwick"), path("tarnwick/inject.txt")};
    const QByteArray old = Bytes(Keywords("old", 50));
    QVERIFY(QDir().mkdir(path("program")));
    if (obstacle == "read-only" || obstacle == "full")
        QVERIFY(QDir().mkdir(path(place)) || place == "program");
    if (obstacle == "full")
        QVERIFY(mountTmpfs(path(place), 64));
    if (obstacle == "file") {
        QVERIFY(WriteAll(at.filterDirectory, "a plain file"));
    } else {
        QVERIFY(QDir().mkpath(at.filterDirectory));
        QVERIFY(obstacle == "directory" ? QDir().mkdir(at.publishedCopy)
                                        : WriteAll(at.publishedCopy, old));
    }
    QVERIFY(WriteAll(at.workingCopy, old));

    QStringList told;
    auto window = Form1::Start(
        at, [](const QString &, const QString &) { return true; },
        [&told](const QString &, const QString &text) { told << text; });
    QVERIFY2(window, qPrintable(told.join('\n')));
    window->show();
    window->ListView1->setCurrentIndex(window->Keywords().index(7));
    const QStringList keywords = Keywords("old", 50) + Keywords("new", added);
    window->Keywords().AppendAll(Keywords("new", added));
    const QByteArray fresh = Bytes(keywords);

    if (obstacle == "full")
        QVERIFY(Fill(path(place) + "/filler"));
    if (obstacle == "read-only")
        QVERIFY(mountReadOnly(path(place)));

    window->Command5->click();

    QCOMPARE(told.size(), 1);
    const QString failedPath = place == "program" ? at.workingCopy : at.publishedCopy;
    QVERIFY2(told.first().contains(failedPath) && told.first().contains(reason, Qt::CaseInsensitive),
             qPrintable(told.first()));
    QVERIFY(window->isVisible());
    QCOMPARE(window->Keywords().Texts(), keywords);
    QCOMPARE(window->ListView1->selectionModel()->selectedRows().value(0).row(), 7);

    const QByteArray working = ReadAll(at.workingCopy);
    const QByteArray published = ReadAll(at.publishedCopy);
    QVERIFY2(working == old || working == fresh, "the working copy is neither the old nor the new list");
    if (obstacle == "file")
        QVERIFY(published.isNull());
    else if (obstacle == "directory")
        QVERIFY(QFileInfo(at.publishedCopy).isDir() && Entries(at.publishedCopy).isEmpty());
    else
        QVERIFY2(published == old, "the published copy changed although the save failed");
    QCOMPARE(working, place == "program" ? old : fresh);

    QCOMPARE(Entries(path("program")).filter(QRegularExpression("^inject")), QStringList{"inject.txt"});
    if (obstacle != "file")
        QVERIFY2(Entries(at.filterDirectory).filter(QRegularExpression("^inject")).size() <= 1,
                 qPrintable(Entries(at.filterDirectory).join(' ')));
}

void TestFaults::readersSeeOnlyWholeVersions()
{
    // Two large lists saved in turn while this process keeps reading the
    // published copy: every read must be one whole version.
    const QByteArray a = Bytes(Keywords("alpha", 60000));
    const QByteArray b = Bytes(Keywords("b", 90000));
    QVERIFY(WriteAll(path("a.txt"), a) && WriteAll(path("b.txt"), b));
    QVERIFY(QDir().mkdir(path("tarnwick")));
    QVERIFY(WriteAll(path("inject.txt"), a));

    QProcess saver;
    saver.start(KeywordTool(), {"save-loop", path("inject.txt"), path("tarnwick/inject.txt"),
                                path("a.txt"), path("b.txt"), "60"});
    QVERIFY2(saver.waitForStarted(), qPrintable(saver.errorString()));
    int reads = 0;
    QElapsedTimer clock;
    clock.start();
    while (saver.state() != QProcess::NotRunning && clock.elapsed() < 60000) {
        const QByteArray seen = ReadAll(path("tarnwick/inject.txt"));
        if (!seen.isNull()) {
            ++reads;
            QVERIFY2(seen == a || seen == b,
                     qPrintable(QStringLiteral("read %1 bytes, a partial version").arg(seen.size())));
        }
        saver.waitForFinished(0);
    }
    QVERIFY(saver.state() == QProcess::NotRunning || saver.waitForFinished(60000));
    QVERIFY2(saver.exitCode() == 0, saver.readAllStandardError().constData());
    QVERIFY2(reads > 10, "the reader never overlapped the saves");
}

void TestFaults::killedSaveLeavesWholeVersions()
{
    const QByteArray a = Bytes(Keywords("alpha", 20000));
    const QByteArray b = Bytes(Keywords("b", 30000));
    const QByteArray before = "before\r\n";
    QVERIFY(WriteAll(path("a.txt"), a) && WriteAll(path("b.txt"), b));
    QVERIFY(QDir().mkdir(path("tarnwick")));
    QVERIFY(WriteAll(path("inject.txt"), before) && WriteAll(path("tarnwick/inject.txt"), before));

    QRandomGenerator random(20261206); // varied but repeatable moments
    for (int attempt = 0; attempt < 20; ++attempt) {
        QProcess saver;
        saver.start(KeywordTool(), {"save-loop", path("inject.txt"), path("tarnwick/inject.txt"),
                                    path("a.txt"), path("b.txt"), "1000"});
        QVERIFY(saver.waitForStarted());
        QThread::usleep(random.bounded(2000, 120000));
        ::kill(pid_t(saver.processId()), SIGKILL);
        QVERIFY(saver.waitForFinished(10000));

        for (const QString &copy : {path("inject.txt"), path("tarnwick/inject.txt")}) {
            const QByteArray seen = ReadAll(copy);
            QVERIFY2(seen == before || seen == a || seen == b,
                     qPrintable(QStringLiteral("attempt %1: %2 holds %3 bytes, not a whole version")
                                    .arg(attempt)
                                    .arg(copy)
                                    .arg(seen.size())));
        }
    }
}

void TestFaults::badWorkingCopiesAreRefusedOrLoaded_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected"); // "loaded N" on stdout, or text of the error

    QTest::newRow("missing") << "missing" << QByteArray() << "inject.txt";
    QTest::newRow("a directory") << "directory" << QByteArray() << "directory";
    QTest::newRow("unreadable") << "unreadable" << QByteArray("a\r\n") << "Permission denied";
    QTest::newRow("UTF-8 with byte-order mark") << "file" << QByteArray("\xEF\xBB\xBF" "and\r\n") << "UTF-8";
    QTest::newRow("invalid GBK") << "file" << QByteArray("ok\r\nok\r\n\x81\x7f\r\n") << "第 3 行";
    QTest::newRow("NUL byte") << "file" << QByteArray("a\0b\r\nc\r\n", 8) << "loaded 2";
    QTest::newRow("only line ends") << "file" << QByteArray("\r\n\r\n\n\r\r\n").repeated(1000)
                                    << "loaded 5000";
    QTest::newRow("100 MB single line") << "file" << QByteArray(100 * 1024 * 1024, 'x') << "loaded 1";
}

void TestFaults::badWorkingCopiesAreRefusedOrLoaded()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    if (kind == "unreadable" && ::geteuid() != 0)
        QSKIP("needs root to run the tool as another user");

    // Readable by the other user, who must still be refused the file itself.
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                     | QFile::ExeGroup | QFile::ExeOther));
    const QString working = path("inject.txt");
    if (kind == "directory")
        QVERIFY(QDir().mkdir(working));
    if (kind == "file" || kind == "unreadable")
        QVERIFY(WriteAll(working, bytes));
    if (kind == "unreadable")
        QVERIFY(QFile::setPermissions(working, QFile::ReadOwner | QFile::WriteOwner));

    QProcess load;
    QStringList command{KeywordTool(), "load", working, path("tarnwick")};
    if (kind == "unreadable")
        command = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + command;
    load.start(kind == "unreadable" ? "setpriv" : command.takeFirst(), command);
    QVERIFY2(load.waitForFinished(120000), "start-up hung");
    QCOMPARE(load.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromUtf8(load.readAllStandardOutput() + load.readAllStandardError());
    QVERIFY2(out.contains(expected), qPrintable(out.left(500)));
    QCOMPARE(load.exitCode(), expected.startsWith("loaded") ? 0 : 1);
    if (load.exitCode() != 0)
        QVERIFY2(out.contains(working), qPrintable(out.left(500)));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
