#include "DefaultKeywords.h"
#include "KeywordList.h"
#include "KeywordStore.h"
#include "Locations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
             qPrintable(file.errorString()));
}

int Mode(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList Entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Keeps a resource limit in force for one scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

} // namespace

class TestKeywordStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void workingCopyIsBesideTheProgram_data();
    void workingCopyIsBesideTheProgram();
    void startUpLoadsInFileOrderAndCreatesFilterDirectory();
    void loadFailuresNameThePathAndReason_data();
    void loadFailuresNameThePathAndReason();
    void filterDirectoryIsLeftAloneWhenSomethingIsThere_data();
    void filterDirectoryIsLeftAloneWhenSomethingIsThere();
    void saveWritesIdenticalCopies_data();
    void saveWritesIdenticalCopies();
    void defaultsMatchTheShippedWorkingCopy();
    void unstorableListTouchesNoFile();
    void publishFailureKeepsThePublishedCopy_data();
    void publishFailureKeepsThePublishedCopy();
    void failedWriteKeepsTheOldWorkingCopy();
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
    WriteAll(m_at.workingCopy, working);
    QVERIFY(QDir().mkdir(m_at.filterDirectory));
    WriteAll(m_at.publishedCopy, published);
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

void TestKeywordStore::startUpLoadsInFileOrderAndCreatesFilterDirectory()
{
    WriteAll(m_at.workingCopy, "b\r\na\r\nb");
    KeywordList list;
    list.Append("already there");
    QString error;
    QVERIFY2(RunStartUp(m_at, list, &error), qPrintable(error));
    QCOMPARE(list.Texts(), QStringList({"already there", "b", "a", "b"}));
    QVERIFY(QFileInfo(m_at.filterDirectory).isDir());
    QCOMPARE(Mode(m_at.filterDirectory), 0755);
}

void TestKeywordStore::loadFailuresNameThePathAndReason_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no file at all
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << QByteArray() << "No such file or directory";
    QTest::newRow("not GBK") << QByteArray("ok\r\n\xff\xff\x81\r\n") << "第 2 行";
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF" "and\r\n") << "UTF-8";
}

void TestKeywordStore::loadFailuresNameThePathAndReason()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    if (!bytes.isNull())
        WriteAll(m_at.workingCopy, bytes);
    KeywordList list;
    QString error;
    QVERIFY(!RunStartUp(m_at, list, &error));
    QVERIFY2(error.contains(m_at.workingCopy) && error.contains(expected), qPrintable(error));
    QCOMPARE(list.Count(), 0);
    QVERIFY2(!QFileInfo::exists(m_at.filterDirectory), "start-up went on after a failed load");
    if (!bytes.isNull())
        QCOMPARE(ReadAll(m_at.workingCopy), bytes);
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
        QVERIFY(QDir().mkdir(dir));
        WriteAll(dir + "/other.txt", "keep");
    } else if (kind == "file") {
        WriteAll(dir, "keep");
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

void TestKeywordStore::publishFailureKeepsThePublishedCopy_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("reason");
    QTest::newRow("filter directory is a file") << "file" << "Not a directory";
    QTest::newRow("filter directory missing") << "missing" << "No such file or directory";
    QTest::newRow("published copy is a directory") << "directory" << "directory";
}

void TestKeywordStore::publishFailureKeepsThePublishedCopy()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, reason);
    WriteAll(m_at.workingCopy, "old\r\n");
    if (obstacle == "file") {
        WriteAll(m_at.filterDirectory, "a file");
    } else if (obstacle == "directory") {
        QVERIFY(QDir().mkpath(m_at.publishedCopy));
    }
    KeywordList list;
    list.Append("new");
    QString error;
    QVERIFY(!SaveAndPublish(m_at, list, &error));
    QVERIFY2(error.contains(m_at.publishedCopy) && error.contains(m_at.workingCopy)
                 && error.contains(reason, Qt::CaseInsensitive) && error.contains("已保存"),
             qPrintable(error));
    // The working copy step comes first and stands.
    QCOMPARE(ReadAll(m_at.workingCopy), QByteArray("new\r\n"));
    if (obstacle == "file")
        QCOMPARE(ReadAll(m_at.filterDirectory), QByteArray("a file"));
    if (obstacle == "directory")
        QVERIFY(Entries(m_at.publishedCopy).isEmpty());
    QCOMPARE(Entries(path("program")), QStringList{"inject.txt"});
}

void TestKeywordStore::failedWriteKeepsTheOldWorkingCopy()
{
    // A write that fails part-way, as on a full disk. The new list is small,
    // so it sits in the write buffer until the flush, where the failure shows.
    setUpFiles("old\r\n", "old\r\n");
    KeywordList list;
    list.Append(QString(100, u'k'));
    QString error;
    bool saved = false;
    {
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        FileSizeLimit limit(10);
        saved = SaveAndPublish(m_at, list, &error);
        std::signal(SIGXFSZ, previous);
    }
    QVERIFY2(!saved, "a failed write was reported as a success");
    QVERIFY2(error.contains(m_at.workingCopy) && error.contains("too large", Qt::CaseInsensitive),
             qPrintable(error));
    QCOMPARE(ReadAll(m_at.workingCopy), QByteArray("old\r\n"));
    QCOMPARE(ReadAll(m_at.publishedCopy), QByteArray("old\r\n"));
    QCOMPARE(Entries(path("program")), QStringList{"inject.txt"});
    QCOMPARE(Entries(m_at.filterDirectory), QStringList{"inject.txt"});
}

void TestKeywordStore::permissionsAndLinks()
{
    // The working copy is a link to a private file; the published copy is new.
    QVERIFY(QDir().mkdir(path("real")));
    WriteAll(path("real/inject.txt"), "old\r\n");
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
