#include "DefaultKeywords.h"
#include "KeywordList.h"
#include "KeywordStore.h"
#include "Locations.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

int Mode(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestKeywordStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void workingCopyIsBesideTheProgram_data();
    void workingCopyIsBesideTheProgram();
    void filterDirectoryIsLeftAloneWhenSomethingIsThere_data();
    void filterDirectoryIsLeftAloneWhenSomethingIsThere();
    void saveWritesIdenticalCopies_data();
    void saveWritesIdenticalCopies();
    void defaultsMatchTheShippedWorkingCopy();
    void unstorableListTouchesNoFile();
    void permissionsAndLinks();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Locations m_at;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void setUpFiles(const QByteArray &working, const QByteArray &published);
};

void TestKeywordStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkdir("program"));
    m_at = Locations::ForProgramDirectory(path("program"));
    m_at.filterDirectory = path("tarnwick");
    m_at.publishedCopy = path("tarnwick/inject.txt");
}

void TestKeywordStore::setUpFiles(const QByteArray &working, const QByteArray &published)
{
    QVERIFY(WriteAll(m_at.workingCopy, working) && QDir().mkdir(m_at.filterDirectory)
            && WriteAll(m_at.publishedCopy, published));
}

void TestKeywordStore::workingCopyIsBesideTheProgram_data()
{
    QTest::addColumn<QString>("programDirectory");
    QTest::addColumn<QString>("workingCopy");
    QTest::newRow("folder") << "/opt/vantrel" << "/opt/vantrel/inject.txt";
    QTest::newRow("file-system root") << "/" << "//inject.txt";
}

void TestKeywordStore::workingCopyIsBesideTheProgram()
{
    QFETCH(QString, programDirectory);
    QFETCH(QString, workingCopy);
    const Locations at = Locations::ForProgramDirectory(programDirectory);
    QCOMPARE(at.workingCopy, workingCopy);
    QCOMPARE(at.filterDirectory, QStringLiteral("/tarnwick"));
    QCOMPARE(at.publishedCopy, QStringLiteral("/tarnwick/inject.txt"));
}

void TestKeywordStore::filterDirectoryIsLeftAloneWhenSomethingIsThere_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory with contents") << "directory";
    QTest::newRow("plain file") << "file";
    QTest::newRow("dangling link") << "link";
}

void TestKeywordStore::filterDirectoryIsLeftAloneWhenSomethingIsThere()
{
    QFETCH(QString, kind);
    const QString dir = m_at.filterDirectory;
    if (kind == "directory") {
        QVERIFY(QDir().mkdir(dir) && WriteAll(dir + "/other.txt", "keep"));
    } else if (kind == "file") {
        QVERIFY(WriteAll(dir, "keep"));
    } else {
        QVERIFY(QFile::link(path("nowhere"), dir));
    }
    QString error;
    QVERIFY2(EnsureFilterDirectory(m_at, &error), qPrintable(error));
    if (kind == "directory")
        QCOMPARE(ReadAll(dir + "/other.txt"), QByteArray("keep"));
    else if (kind == "file")
        QCOMPARE(ReadAll(dir), QByteArray("keep"));
    else
        QVERIFY(QFileInfo(dir).isSymLink() && !QFileInfo::exists(path("nowhere")));
}

void TestKeywordStore::saveWritesIdenticalCopies_data()
{
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty list, zero-byte files") << QStringList() << QByteArray();
    QTest::newRow("Chinese, empty, duplicate, spaces")
        << QStringList{QStringLiteral("你好"), "", "union", QStringLiteral("你好"), " x "}
        << QByteArray("\xc4\xe3\xba\xc3\r\n\r\nunion\r\n\xc4\xe3\xba\xc3\r\n x \r\n");
}

void TestKeywordStore::saveWritesIdenticalCopies()
{
    QFETCH(QStringList, keywords);
    QFETCH(QByteArray, bytes);
    setUpFiles("old\r\n", "older\r\n");
    KeywordList list;
    list.AppendAll(keywords);
    QString error;
    QVERIFY2(SaveAndPublish(m_at, list, &error), qPrintable(error));
    QCOMPARE(ReadAll(m_at.workingCopy), bytes);
    QCOMPARE(ReadAll(m_at.publishedCopy), bytes);
    QCOMPARE(list.Texts(), keywords);
    QCOMPARE(Entries(path("program")), QStringList{"inject.txt"});
    QCOMPARE(Entries(m_at.filterDirectory), QStringList{"inject.txt"});

    // and the saved file loads back as the same list
    KeywordList again;
    QVERIFY2(LoadWorkingCopy(m_at, again, &error), qPrintable(error));
    QCOMPARE(again.Texts(), keywords);
}

void TestKeywordStore::defaultsMatchTheShippedWorkingCopy()
{
    KeywordList list;
    list.Append("mine");
    RestoreDefaults(list);
    RestoreDefaults(list);
    QCOMPARE(list.Count(), 12);
    QCOMPARE(list.Text(1), QStringLiteral("'"));
    QCOMPARE(list.Text(12), QStringLiteral("mid"));

    QVERIFY(QDir().mkdir(m_at.filterDirectory));
    QString error;
    QVERIFY2(SaveAndPublish(m_at, list, &error), qPrintable(error));
    QCOMPARE(ReadAll(m_at.workingCopy), ReadAll(SHIPPED_WORKING_COPY));
    QCOMPARE(ReadAll(m_at.workingCopy),
             QByteArray("'\r\n*\r\n%\r\nand\r\nexec\r\ninsert\r\nselect\r\ndelete\r\n"
                        "updata\r\ncount\r\nchr\r\nmid\r\n"));
}

void TestKeywordStore::unstorableListTouchesNoFile()
{
    setUpFiles("old\r\n", "old\r\n");
    KeywordList list;
    list.AppendAll({"ok", QStringLiteral("a\r\nb"), "ok"});
    QString error;
    QVERIFY(!SaveAndPublish(m_at, list, &error));
    QVERIFY2(error.contains("第 2 个关键字") && error.contains("a\\r\\nb"), qPrintable(error));
    QCOMPARE(ReadAll(m_at.workingCopy), QByteArray("old\r\n"));
    QCOMPARE(ReadAll(m_at.publishedCopy), QByteArray("old\r\n"));
}

void TestKeywordStore::permissionsAndLinks()
{
    // The working copy is a link to a private file; the published copy is new.
    QVERIFY(QDir().mkdir(path("real")));
    QVERIFY(WriteAll(path("real/inject.txt"), "old\r\n"));
    QVERIFY(QFile::setPermissions(path("real/inject.txt"), QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QFile::link(path("real/inject.txt"), m_at.workingCopy));
    QVERIFY(QDir().mkdir(m_at.filterDirectory));

    KeywordList list;
    list.Append("new");
    QString error;
    const mode_t oldMask = ::umask(077);
    const bool saved = SaveAndPublish(m_at, list, &error);
    ::umask(oldMask);
    QVERIFY2(saved, qPrintable(error));

    QVERIFY(QFileInfo(m_at.workingCopy).isSymLink());
    QCOMPARE(ReadAll(path("real/inject.txt")), QByteArray("new\r\n"));
    QCOMPARE(Mode(path("real/inject.txt")), 0600);
    QCOMPARE(Mode(m_at.publishedCopy), 0644);
    QCOMPARE(Entries(path("real")), QStringList{"inject.txt"});
}

QTEST_GUILESS_MAIN(TestKeywordStore)
#include "tst_keywordstore.moc"
