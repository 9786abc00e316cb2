#include "KeywordMerge.h"

#include <QTest>

class TestKeywordMerge : public QObject
{
    Q_OBJECT

private slots:
    void keepsBothSidesChanges_data()
    {
        QTest::addColumn<QStringList>("base");
        QTest::addColumn<QStringList>("theirs");
        QTest::addColumn<QStringList>("mine");
        QTest::addColumn<QStringList>("merged");
        const QStringList abc{"a", "b", "c"};
        QTest::newRow("both added, mine last in the order I added them")
                << abc << QStringList{"a", "b", "c", "t"} << QStringList{"a", "b", "c", "n", "m"}
                << QStringList{"a", "b", "c", "t", "n", "m"};
        QTest::newRow("both added the same: once")
                << abc << QStringList{"a", "b", "c", "x"} << QStringList{"a", "b", "c", "x"}
                << QStringList{"a", "b", "c", "x"};
        QTest::newRow("they deleted, I kept") << abc << QStringList{"a", "c"} << abc << QStringList{"a", "c"};
        QTest::newRow("they deleted, I added again")
                << abc << QStringList{"a", "c"} << QStringList{"a", "b", "c", "b"} << QStringList{"a", "c", "b"};
        QTest::newRow("I deleted what they kept")
                << abc << QStringList{"c", "b", "a", "t"} << QStringList{"a", "c"} << QStringList{"c", "a", "t"};
        QTest::newRow("both deleted the same")
                << abc << QStringList{"a", "c"} << QStringList{"a", "c"} << QStringList{"a", "c"};
        QTest::newRow("one of a pair each")
                << QStringList{"a", "a"} << QStringList{"a"} << QStringList{"a", "a", "a"} << QStringList{"a", "a"};
    }

    void keepsBothSidesChanges()
    {
        QFETCH(QStringList, base);
        QFETCH(QStringList, theirs);
        QFETCH(QStringList, mine);
        QTEST(KeywordMerge::Merge(base, theirs, mine), "merged");
    }
};

QTEST_GUILESS_MAIN(TestKeywordMerge)
#include "tst_keywordmerge.moc"
