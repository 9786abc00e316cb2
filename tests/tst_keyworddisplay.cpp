#include "KeywordDisplay.h"
#include "TestRow.h"

class TestKeywordDisplay : public QObject
{
    Q_OBJECT

private slots:
    void shown_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("characters"); // shown at most
        QTest::addColumn<QString>("shown");
        Row("U+FEFF", QStringLiteral("\uFEFFselect"), 100, "‹U+FEFF›select");
        Row("private use, GBK A140", QStringLiteral("a\uE4C6"), 100, "a‹U+E4C6›");
        Row("a tab, a line break, a NUL", QString::fromUtf16(u"a\tb\nc\0", 6), 100, "a‹U+0009›b‹U+000A›c‹U+0000›");
        Row("the ideographic space", QStringLiteral("a\u3000"), 100, "a‹U+3000›");
        Row("plain Chinese and ASCII, unchanged", "删除 联合 union", 100, "删除 联合 union");
        Row("cut after so many characters", "abcdef", 3, "abc…");
        Row("a mark counts as one", QStringLiteral("\u200Babc"), 2, "‹U+200B›a…");
        Row("a pair of surrogates is one character, never split", QStringLiteral("a😀b"), 2, "a😀…");
        Row("a hidden one beyond the first plane", QStringLiteral("a\U000E0001"), 100, "a‹U+E0001›");
        Row("exactly as long: no cut", "abc", 3, "abc");
        // Swapped for look-alikes, "select" and "exec" must not show as themselves.
        Row("a Cyrillic е among Latin letters", QStringLiteral("s\u0435lect"), 100, "s‹U+0435›lect");
        Row("Chinese with its own punctuation, unchanged", "管理员（一），删除", 100, "管理员（一），删除");
    }

    void shown()
    {
        QFETCH(QString, keyword);
        QFETCH(int, characters);
        QTEST(KeywordDisplay::Shown(keyword, characters), "shown");
        QFETCH(QString, shown);
        QCOMPARE(KeywordDisplay::Quoted(keyword, characters), "“" + shown + "”");
    }
};

QTEST_GUILESS_MAIN(TestKeywordDisplay)
#include "tst_keyworddisplay.moc"
