#include "KeywordMerge.h"
#include "TestRow.h"

class TestKeywordMerge : public QObject
{
    Q_OBJECT

private slots:
    // Lists of one-letter keywords, written together: "abc" is a, b, c.
    void keepsBothSidesChanges_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("theirs");
        QTest::addColumn<QString>("mine");
        QTest::addColumn<QString>("merged");
        Row("both added, mine last in the order I added them", "abc", "abct", "abcnm", "abctnm");
        Row("both added the same: once", "abc", "abcx", "abcx", "abcx");
        Row("they deleted, I kept", "abc", "ac", "abc", "ac");
        Row("they deleted, I added again", "abc", "ac", "abcb", "acb");
        Row("I deleted what they kept", "abc", "cbat", "ac", "cat");
        Row("both deleted the same", "abc", "ac", "ac", "ac");
        Row("one of a pair each", "aa", "a", "aaa", "aa");
    }

    void keepsBothSidesChanges()
    {
        QFETCH(QString, base);
        QFETCH(QString, theirs);
        QFETCH(QString, mine);
        const auto list = [](const QString &letters) { return letters.split(QString(), Qt::SkipEmptyParts); };
        QTEST(KeywordMerge::Merge(list(base), list(theirs), list(mine)).join(QString()), "merged");
    }
};

QTEST_GUILESS_MAIN(TestKeywordMerge)
#include "tst_keywordmerge.moc"
