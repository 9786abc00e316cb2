#include "TestRow.h"
#include "system/SaveEvent.h"

#include <windows.h>

using Result = SaveRecord::Result;

// What the Event Viewer shows of a save: its type by the result, who saved,
// and the user it is filed under.
class TestSaveEvent : public QObject
{
    Q_OBJECT

private slots:
    void event_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("sid");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");                                            // before the record's line
        const QByteArray sid("\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00", 12); // SYSTEM's
        Row("saved: information", int(Result::Saved), "alice", sid, EVENTLOG_INFORMATION_TYPE, "user=alice pid=42");
        Row("failed: a warning", int(Result::Failed), "alice", sid, EVENTLOG_WARNING_TYPE, "user=alice pid=42");
        Row("cancelled: information, no user name or SID", int(Result::Cancelled), "", QByteArray(),
            EVENTLOG_INFORMATION_TYPE, "user=? pid=42");
    }

    void event()
    {
        QFETCH(int, result);
        QFETCH(QString, user);
        QFETCH(QByteArray, sid);
        const SaveRecord record{.result = Result(result),
                                .workingPath = "C:\\v\\inject.txt",
                                .publishedPath = "C:\\tarnwick\\inject.txt"};
        const SaveEvent event = SaveEvent::Of(record, user, 42, sid);
        QTEST(int(event.type), "type");
        QFETCH(QString, text);
        QCOMPARE(event.text, text + ' ' + record.Line());
        QCOMPARE(event.user, sid);
    }
};

QTEST_GUILESS_MAIN(TestSaveEvent)
#include "tst_saveevent.moc"
