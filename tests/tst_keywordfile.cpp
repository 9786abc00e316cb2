#include "KeywordFile.h"
#include "KeywordList.h"

#include <QAbstractItemModelTester>
#include <QTest>

using Fault = KeywordFile::Fault;

class TestKeywordFile : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void refusesBadBytes_data();
    void refusesBadBytes();
    void refusesKeywordsItCannotHold_data();
    void refusesKeywordsItCannotHold();
    void loadedKeywordsAreSeparateStrings();
    void listKeepsItsModelContract();
};

void TestKeywordFile::decodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("keywords");

    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("CR LF lines") << QByteArray("and\r\nexec\r\n") << QStringList{"and", "exec"};
    QTest::newRow("last line without end") << QByteArray("and\r\nexec") << QStringList{"and", "exec"};
    QTest::newRow("lone LF and lone CR") << QByteArray("a\nb\rc\r\n") << QStringList{"a", "b", "c"};
    QTest::newRow("LF then CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n\n") << QStringList{"", "", ""};
    QTest::newRow("empty lines and duplicates in place")
        << QByteArray("x\r\n\r\nx\r\n \r\n") << QStringList{"x", "", "x", " "};
    QTest::newRow("Chinese in GBK")
        << QByteArray("\xc4\xe3\xba\xc3\r\nselect\xd7\xd6\r\n")
        << QStringList{QStringLiteral("你好"), QStringLiteral("select字")};
    QTest::newRow("NUL kept") << QByteArray("a\0b\r\n", 5) << QStringList{QString::fromUtf16(u"a\0b", 3)};
    QTest::newRow("euro sign of code page 936") << QByteArray("\x80") << QStringList{QStringLiteral("€")};
    QTest::newRow("GBK rows from first to last")
        << QByteArray("\x81\x40\xa1\xa1\xb0\xa1\xd7\xf9\xfe\x4f\r\n")
        << QStringList{QStringLiteral("丂　啊座\ufa29")};
}

void TestKeywordFile::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, keywords);
    const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    QVERIFY(decoded.ok);
    QCOMPARE(decoded.keywords, keywords);

    // A file in the form this program writes comes back byte for byte.
    const QByteArray written = KeywordFile::Encode(keywords).bytes;
    const qsizetype lineEnds = bytes.count("\r\n");
    if (bytes.isEmpty()
        || (bytes.endsWith("\r\n") && bytes.count('\r') == lineEnds && bytes.count('\n') == lineEnds))
        QCOMPARE(written, bytes);
    QCOMPARE(KeywordFile::Decode(written).keywords, keywords);
}

void TestKeywordFile::refusesBadBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("badLine");
    QTest::addColumn<bool>("utf8ByteOrderMark");

    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xEF\xBB\xBFselect\r\n") << qsizetype(1) << true;
    QTest::newRow("lead byte before CR LF") << QByteArray("ok\r\n\x81\r\nok\r\n") << qsizetype(2) << false;
    QTest::newRow("lead byte at end of file") << QByteArray("ok\r\nok\nab\x81") << qsizetype(3) << false;
    QTest::newRow("bad trail byte") << QByteArray("\x81\x20x\r\n") << qsizetype(1) << false;
}

void TestKeywordFile::refusesBadBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, badLine);
    QFETCH(bool, utf8ByteOrderMark);
    const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    QVERIFY(!decoded.ok);
    QCOMPARE(decoded.badLine, badLine);
    QCOMPARE(decoded.utf8ByteOrderMark, utf8ByteOrderMark);
    QVERIFY(decoded.keywords.isEmpty());
}

void TestKeywordFile::refusesKeywordsItCannotHold_data()
{
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<qsizetype>("position");

    QTest::newRow("LF") << QStringList{"a", "b\nc"} << Fault::LineBreak << qsizetype(2);
    QTest::newRow("trailing CR") << QStringList{"a", "b", "c\r"} << Fault::LineBreak << qsizetype(3);
    QTest::newRow("emoji") << QStringList{"ok", QStringLiteral("a😀")} << Fault::Unencodable << qsizetype(2);
    QTest::newRow("no-break space") << QStringList{QStringLiteral("\u00a0")} << Fault::Unencodable << qsizetype(1);
    QTest::newRow("Korean") << QStringList{"ok", QStringLiteral("한")} << Fault::Unencodable << qsizetype(2);
    QTest::newRow("lone surrogate")
        << QStringList{"ok", "ok", QString(QChar(0xD800))} << Fault::Unencodable << qsizetype(3);
    QTest::newRow("first fault wins") << QStringList{"ok", "x\ny", QStringLiteral("😀")}
                                      << Fault::LineBreak << qsizetype(2);
}

void TestKeywordFile::refusesKeywordsItCannotHold()
{
    QFETCH(QStringList, keywords);
    QFETCH(Fault, fault);
    QFETCH(qsizetype, position);
    const KeywordFile::Encoded encoded = KeywordFile::Encode(keywords);
    QCOMPARE(encoded.fault, fault);
    QCOMPARE(encoded.badPosition, position);
    QVERIFY(encoded.bytes.isEmpty());
    QCOMPARE(KeywordFile::Check(keywords.at(position - 1)), fault);
}

void TestKeywordFile::loadedKeywordsAreSeparateStrings()
{
    // Keywords read from one file may share memory; nothing of that may show.
    QStringList keywords = KeywordFile::Decode("one\r\ntwo\nthree").keywords;
    for (const QString &keyword : keywords)
        QCOMPARE(keyword.utf16()[keyword.size()], u'\0');
    const QString copy = keywords.at(0);
    keywords[0].append(u'X');
    keywords[1][0] = u'T';
    keywords[2].prepend(u'>');
    QCOMPARE(keywords, QStringList({"oneX", "Two", ">three"}));
    QCOMPARE(copy, QStringLiteral("one"));

    // The last of them left, changed in place.
    QString last = KeywordFile::Decode("a\r\nb\r\n").keywords.at(0);
    last.append(QStringLiteral("bcdef"));
    last.prepend(u'<');
    QCOMPARE(last, QStringLiteral("<abcdef"));
    QCOMPARE(last.utf16()[last.size()], u'\0');
}

void TestKeywordFile::listKeepsItsModelContract()
{
    KeywordList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);

    list.AppendAll({"x", "y", "x"});
    list.Append("z");
    list.RemoveAt(3); // the second "x", not the first
    QCOMPARE(list.Texts(), QStringList({"x", "y", "z"}));
    QVERIFY(list.setData(list.index(1), "y2"));
    QCOMPARE(list.Text(2), QStringLiteral("y2"));
    list.RemoveAt(1);
    QCOMPARE(list.Texts(), QStringList({"y2", "z"}));
    list.Clear();
    QCOMPARE(list.Count(), 0);
}

QTEST_GUILESS_MAIN(TestKeywordFile)
#include "tst_keywordfile.moc"
