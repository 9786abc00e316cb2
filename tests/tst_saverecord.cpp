#include "SaveRecord.h"
#include "TestRow.h"

using Result = SaveRecord::Result;

class TestSaveRecord : public QObject
{
    Q_OBJECT

private slots:
    void line_data()
    {
        QTest::addColumn<SaveRecord>("record");
        QTest::addColumn<QString>("line");
        const SaveRecord failed{.workingPath = "/opt/vantrel-filter/inject.txt",
                                .publishedPath = "/tarnwick/inject.txt",
                                .reason = "无法保存"};
        const QString at = " working=\"/opt/vantrel-filter/inject.txt\" published=\"/tarnwick/inject.txt\"";
        Row("failed before reading: no counts", failed, "result=failed wrote=none" + at + " reason=\"无法保存\"");
        // Nothing a keyword or a path holds may end the line, forge a field or pass for another.
        Row("quotes, backslashes, controls, lookalikes; Windows paths",
            SaveRecord{.result = Result::Failed,
                       .workingPath = "C:\\v\\inject.txt",
                       .publishedPath = "C:\\t\\inject.txt",
                       .workingWritten = true,
                       .counted = true,
                       .changes = {{"a\"b", "c\\d"}, {"e\nf\x7f", QStringLiteral("\uFEFFselect\uE000\u3000")}},
                       .reason = "x\" y=\"z"},
            "result=failed wrote=working added=2 removed=2 working=\"C:\\\\v\\\\inject.txt\" "
            "published=\"C:\\\\t\\\\inject.txt\""
            " reason=\"x\\\" y=\\\"z\" keywords=+\"a\\\"b\" +\"c\\\\d\" -\"e\\x0af\\x7f\" "
            "-\"\\ufeffselect\\ue000\\u3000\"");
        // Both copies written, the changes counted.
        const auto written = [&](Result result, const KeywordMerge::Changes &changes, const QString &reason) {
            return SaveRecord{.result = result,
                              .workingPath = failed.workingPath,
                              .publishedPath = failed.publishedPath,
                              .workingWritten = true,
                              .publishedWritten = true,
                              .counted = true,
                              .changes = changes,
                              .reason = reason};
        };
        // Swapped for look-alikes, "select" and "exec" must not read as a reordering. The program's own
        // message quotes keywords, their look-alikes already marked, in curly quotes, which stay readable.
        Row("look-alikes and curly quotes escaped in keywords, Chinese text kept",
            written(Result::Failed,
                    {{QStringLiteral("s\u0435lect"), QStringLiteral("\u0435\u0445\u0435\u0441"),
                      QStringLiteral("quote\u201cfake\u201d -\u201cselect"), QStringLiteral("管理员（一），删除")},
                     {"exec", "select"}},
                    QStringLiteral("第 1 个关键字 “s‹U+0435›lect” 未能确认")),
            "result=failed wrote=working,published added=4 removed=2" + at
                    + " reason=\"第 1 个关键字 “s‹U+0435›lect” 未能确认\""
                    + " keywords=+\"s\\u0435lect\" +\"\\u0435\\u0445\\u0435\\u0441\" +\"quote\\u201cfake\\u201d "
                      "-\\u201cselect\""
                      " +\"管理员（一），删除\" -\"exec\" -\"select\"");
        Row("saved: a long keyword shortened to 300 bytes", written(Result::Saved, {{QString(400, 'x')}, {}}, {}),
            "result=saved wrote=working,published added=1 removed=0" + at + " keywords=+\"" + QString(295, 'x')
                    + "…\"");
    }

    void line()
    {
        QFETCH(SaveRecord, record);
        QTEST(record.Line(), "line");
    }

    // However much a save changed, and however long its paths and reason:
    // the counts and the copies come first and the line stays within bounds.
    void lineStaysWithinItsBound()
    {
        const QString longPath = "/" + QString(3000, QChar(0x4e2d)); // 9000 bytes
        const SaveRecord record{.result = Result::Failed,
                                .workingPath = longPath,
                                .publishedPath = longPath,
                                .counted = true,
                                .changes = {QStringList(5000, QString(200, 'k')), {"gone"}},
                                .reason = QString(5000, QChar(0x9519))};
        const QString line = record.Line();
        QVERIFY2(line.toUtf8().size() <= SaveRecord::MaxLine, qPrintable(QString::number(line.toUtf8().size())));
        QVERIFY2(line.startsWith("result=failed wrote=none added=5000 removed=1 working=\"/中中")
                         && line.contains(" published=\"/中") && line.contains(" reason=\"错错")
                         && line.contains(" keywords=+\"kkk") && line.endsWith(" more)"),
                 qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestSaveRecord)
#include "tst_saverecord.moc"
