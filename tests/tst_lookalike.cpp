#include "LookAlike.h"
#include "TestRow.h"

#include <algorithm>

using Positions = QList<qsizetype>;

// The same rows on Linux, where ICU answers, and on Windows, where the table
// written from it at build time does: the two must agree.
class TestLookAlike : public QObject
{
    Q_OBJECT

private slots:
    void marks_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<Positions>("marked");
        Row("select with a Cyrillic e", QStringLiteral("s\u0435lect"), Positions{1});
        Row("exec in Cyrillic alone", QStringLiteral("\u0435\u0445\u0435\u0441"), Positions{0, 1, 2, 3});
        Row("Greek alpha, capitals", QStringLiteral("\u03b1nd \u0395\u03a7\u0395C"), Positions{0, 4, 5, 6});
        Row("Latin alpha and script g", QStringLiteral("\u0251nd \u0261o"), Positions{0, 4});
        Row("Greek and Cyrillic pass for each other", QStringLiteral("\u0393\u0413"), Positions{0, 1});
        Row("fullwidth letters, listed as confusable or not", QStringLiteral("\uff53\uff45\uff4c\uff45\uff43\uff54"),
            Positions{0, 1, 2, 3, 4, 5});
        Row("curly quote for the default '", QStringLiteral("\u2019"), Positions{0});
        Row("curly quotes, among Chinese too", QStringLiteral("\u201c管理员\u201d，"), Positions{0, 4});
        Row("fullwidth % for the default %", QStringLiteral("\uff05"), Positions{0});
        Row("fullwidth colon, dash, ellipsis without Chinese", QStringLiteral("union\uff1aselect\u2014\u2026"),
            Positions{5, 12, 13});
        Row("Katakana ro for the Chinese mouth, among Chinese too", QStringLiteral("人\u30ed，人口"), Positions{1});
        Row("plain ASCII", QStringLiteral("select %27 union all"), Positions{});
        Row("Chinese with its punctuation and ASCII", QStringLiteral("注意：（一）删除——联合，select ％…"),
            Positions{});
        Row("pinyin", QStringLiteral("xu\u01cenz\u00e9"), Positions{});
        Row("positions count UTF-16 units", QStringLiteral("\U0001F600\u0435"), Positions{2});
        // Whatever the confusables say of a Chinese character (一 and the
        // Katakana ー, 口 and ロ), it is never marked.
        QString chinese = QStringLiteral("〇々");
        for (char16_t c = 0x4e00; c <= 0x9fa5; ++c)
            chinese += QChar(c);
        Row("every Chinese character", chinese, Positions{});
    }

    void marks()
    {
        QFETCH(QString, keyword);
        QFETCH(Positions, marked);
        const Positions found = LookAlikes(keyword);
        QStringList shown; // each position marked, with the character there
        for (const qsizetype i : found)
            shown << QString::number(i) + ' ' + keyword[i];
        // Not QList's ==: Qt 6.4 hands memcmp the null data of an empty list.
        QVERIFY2(std::ranges::equal(found, marked), qPrintable("marked: [" + shown.join(", ") + "]"));
    }
};

QTEST_GUILESS_MAIN(TestLookAlike)
#include "tst_lookalike.moc"
