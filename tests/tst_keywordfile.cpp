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
    void listKeepsItsModelContract();
};

void TestKeywordFile::decodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("keywords");

    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("last line without end") << QByteArray("and\r\nexec") << QStringList{"and", "exec"};
    QTest::newRow("lone LF and lone CR") << QByteArray("a\nb\rc\r\n") << QStringList{"a", "b", "c"};
    QTest::newRow("LF then CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("empty lines and duplicates in place")
        << QByteArray("x\r\n\r\nx\r\n \r\n") << QStringList{"x", "", "x", " "};
    QTest::newRow("Chinese in GBK") << QByteArray("\xc4\xe3\xba\xc3\r\nselect\xd7\xd6\r\n")
                                    << QStringList{QStringLiteral("你好"), QStringLiteral("select字")};
    QTest::newRow("NUL kept") << QByteArray("a\0b\r\n", 5) << QStringList{QString::fromUtf16(u"a\0b", 3)};
    QTest::newRow("euro sign of code page 936") << QByteArray("\x80\r\n") << QStringList{QStringLiteral("€")};
    QTest::newRow("GBK rows from first to last") << QByteArray("\x81\x40\xa1\xa1\xb0\xa1\xd7\xf9\xfe\x4f\r\n")
                                                 << QStringList{QStringLiteral("丂　啊座\ufa29")};
    QTest::newRow("the UTF-8 mark's bytes as GBK") << QByteArray("\xEF\xBB\xBF\xAA\r\n") << QStringList{QStringLiteral("锘开")};
}

void TestKeywordFile::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, keywords);
    const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    QVERIFY(decoded.ok);
    QCOMPARE(decoded.keywords, keywords);
    // A file in the form this program writes comes back byte for byte.
    const KeywordFile::Encoded written = KeywordFile::Encode(keywords);
    QCOMPARE(written.fault, Fault::None);
    if (bytes.count('\r') == bytes.count("\r\n") && bytes.count('\n') == bytes.count("\r\n") && bytes.endsWith('\n'))
        QCOMPARE(written.bytes, bytes);
    QCOMPARE(KeywordFile::Decode(written.bytes).keywords, keywords);
}

void TestKeywordFile::refusesBadBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("badLine");
    QTest::addColumn<bool>("utf8");

    QTest::newRow("UTF-8 with its mark") << QByteArray("\xEF\xBB\xBFselect\r\n\xE4\xB8\xAD\r\n") << qsizetype(1) << true;
    QTest::newRow("the mark, then neither") << QByteArray("\xEF\xBB\xBFok\r\n\x81\r\n") << qsizetype(2) << false;
    QTest::newRow("lead byte before CR LF") << QByteArray("ok\r\n\x81\r\nok\r\n") << qsizetype(2) << false;
    QTest::newRow("lead byte at end of file") << QByteArray("ok\r\nok\nab\x81") << qsizetype(3) << false;
    QTest::newRow("bad trail byte") << QByteArray("\x81\x20x\r\n") << qsizetype(1) << false;
}

void TestKeywordFile::refusesBadBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, badLine);
    QFETCH(bool, utf8);
    const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    QVERIFY(!decoded.ok && decoded.keywords.isEmpty());
    QCOMPARE(decoded.badLine, badLine);
    QCOMPARE(decoded.utf8, utf8);
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
    QTest::newRow("lone surrogate") << QStringList{"ok", "ok", QString(QChar(0xD800))} << Fault::Unencodable << qsizetype(3);
    QTest::newRow("first fault wins") << QStringList{"ok", "x\ny", QStringLiteral("😀")} << Fault::LineBreak << qsizetype(2);
    // GBK EF BB BF 40 78: the UTF-8 mark, then "@x", which is UTF-8 too.
    QTest::newRow("would read back as UTF-8") << QStringList{QStringLiteral("锘緻x")} << Fault::ReadsAsUtf8 << qsizetype(1);
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
    if (fault != Fault::ReadsAsUtf8)
        QCOMPARE(KeywordFile::Check(keywords.at(position - 1)), fault);
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
    list.RemoveAt(1);
    QCOMPARE(list.Texts(), QStringList({"y2", "z"}));
    list.Clear();
    QCOMPARE(list.Count(), 0);
}

QTEST_GUILESS_MAIN(TestKeywordFile)
#include "tst_keywordfile.moc"
