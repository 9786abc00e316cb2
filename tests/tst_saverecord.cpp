#include "TestSystem.h"

#ifndef Q_OS_WIN
#include <pwd.h>
#endif

using Result = SaveRecord::Result;

class TestSaveRecord : public QObject
{
    Q_OBJECT

private slots:
    void line_data()
    {
        QTest::addColumn<SaveRecord>("record");
        QTest::addColumn<QString>("line");
        const SaveRecord saved{.result = Result::Saved, .workingPath = "/opt/vantrel-filter/inject.txt",
                               .publishedPath = "/tarnwick/inject.txt", .workingWritten = true,
                               .publishedWritten = true, .counted = true};
        const QString at = " working=\"/opt/vantrel-filter/inject.txt\" published=\"/tarnwick/inject.txt\"";
        const auto with = [&saved](const QStringList &added, const QStringList &removed = {}) {
            SaveRecord record = saved;
            record.changes = {added, removed};
            return record;
        };
        QTest::newRow("saved") << with({"alpha"}, {"old"})
                               << "result=saved wrote=working,published added=1 removed=1 keywords=+\"alpha\" -\"old\"" + at;
        QTest::newRow("failed before reading: no counts, the reason last")
            << SaveRecord{.workingPath = saved.workingPath, .publishedPath = saved.publishedPath, .reason = "无法保存"}
            << "result=failed wrote=none" + at + " reason=\"无法保存\"";
        // Nothing a keyword or a path holds may end the line or forge a field.
        QTest::newRow("quotes, backslashes, control characters; Windows paths")
            << SaveRecord{.result = Result::Failed, .workingPath = "C:\\v\\inject.txt", .publishedPath = "C:\\t\\inject.txt",
                          .workingWritten = true, .counted = true, .changes = {{"a\"b", "c\\d"}, {"e\nf\x7f"}},
                          .reason = "x\" y=\"z"}
            << "result=failed wrote=working added=2 removed=1 keywords=+\"a\\\"b\" +\"c\\\\d\" -\"e\\x0af\\x7f\""
               " working=\"C:\\\\v\\\\inject.txt\" published=\"C:\\\\t\\\\inject.txt\" reason=\"x\\\" y=\\\"z\"";
        QTest::newRow("a long keyword shortened") << with({QString(150, 'x')})
            << "result=saved wrote=working,published added=1 removed=0 keywords=+\"" + QString(100, 'x') + "…\"" + at;
        QTest::newRow("a long list cut after some 2000 characters") << with(QStringList(500, "k"))
            << "result=saved wrote=working,published added=500 removed=0 keywords=" + QStringList(401, "+\"k\"").join(' ')
                   + " (99 more)" + at;
    }

    void line()
    {
        QFETCH(SaveRecord, record);
        QTEST(record.Line(), "line");
    }

    void sendsOneLineToTheLog()
    {
        POSIX_ONLY("the syslog socket; the Windows event log is not read back here");
#ifndef Q_OS_WIN
        QTemporaryDir dir;
        const int log = OpenLog(dir.filePath("log"));
        QVERIFY2(log >= 0, qPrintable(SystemReason(errno)));
        const SaveRecord record{.workingPath = "/w", .publishedPath = "/p", .reason = "无法保存"};
        record.Send();
        const QStringList lines = Received(log);
        ::close(log);
        // authpriv.notice, the time, then who saved.
        const QString who = QStringLiteral(" vantrel-filter[%1]: user=%2 uid=%3 ")
                                .arg(::getpid()).arg(::getpwuid(::geteuid())->pw_name).arg(::geteuid());
        QVERIFY2(lines.size() == 1 && lines.first().startsWith("<85>") && lines.first().endsWith(who + record.Line()),
                 qPrintable(lines.join('\n')));
#endif
    }
};

QTEST_GUILESS_MAIN(TestSaveRecord)
#include "tst_saverecord.moc"
