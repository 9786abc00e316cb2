#include "KeywordFile.h"
#include "TestRow.h"

using Fault = KeywordFile::Fault;

class TestKeywordFile : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<Fault>("saved");    // saving the keywords refuses
        QTest::addColumn<bool>("asWritten"); // every line ended by CR LF, as saving writes it
        Row("empty file", QByteArray(), QStringList(), Fault::None, true);
        // Such a file still opens, so that the keyword can be mended or deleted.
        Row("a NUL, which saving refuses", QByteArray("x\r\na\0b\r\n", 7),
            QStringList{"x", QString::fromUtf16(u"a\0b", 3)}, Fault::Nul, false);
        Row("as written: empty lines, duplicates, spaces", QByteArray("x\r\n\r\nx\r\n \r\n"),
            QStringList{"x", "", "x", " "}, Fault::None, true);
        Row("lone LF, lone CR, LF then CR, no end", QByteArray("a\nb\rc\n\rd"), QStringList{"a", "b", "c", "", "d"},
            Fault::None, false);
        Row("GBK from first to last row, euro sign",
            QByteArray("\xc4\xe3\xba\xc3\r\n\x81\x40\xa1\xa1\xb0\xa1\xd7\xf9\xfe\x4f\r\n\x80\r\n"),
            QStringList{QStringLiteral("你好"), QStringLiteral("丂　啊座\ufa29"), QStringLiteral("€")}, Fault::None,
            true);
        // Only a whole file that reads as UTF-8 is taken for it, when read or saved.
        Row("lines that begin with the UTF-8 mark's bytes", QByteArray("\xEF\xBB\xBF@x\r\n\xEF\xBB\xBF\xAA\r\n"),
            QStringList{QStringLiteral("锘緻x"), QStringLiteral("锘开")}, Fault::None, true);
        Row("the UTF-8 mark's bytes after the first line", QByteArray("a\r\n\xEF\xBB\xBF@x\r\n"),
            QStringList{"a", QStringLiteral("锘緻x")}, Fault::None, true);
        Row("as many empty lines as the limit", QByteArray("\r\n").repeated(KeywordFile::MaxKeywords),
            QStringList(KeywordFile::MaxKeywords, QString()), Fault::None, true);
    }

    void refusesBytesThatAreNotGbk_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<qsizetype>("line");
        // ICU's table reads 0xFF as a private-use character, code page 936 refuses it.
        Row("0xFF then a trail byte", QByteArray("ok\r\n\xFF@\r\nok\r\n"), Fault::NotGbk, qsizetype(2));
        Row("0xFF alone, after a euro sign", QByteArray("ok\r\n\x80\xFF\r\n"), Fault::NotGbk, qsizetype(2));
        Row("0xFF as a trail byte", QByteArray("\x81\xFF"), Fault::NotGbk, qsizetype(1));
        Row("a lead byte at the very end", QByteArray("ab\x81"), Fault::NotGbk, qsizetype(1));
        Row("UTF-8 with its mark", QByteArray("\xEF\xBB\xBFselect\r\n"), Fault::Utf8, qsizetype(1));
        Row("the UTF-8 mark, then not GBK", QByteArray("\xEF\xBB\xBFok\r\n\x81\r\n"), Fault::NotGbk, qsizetype(2));
        const qsizetype limit = KeywordFile::MaxKeywords;
        Row("more keywords than the limit, all empty", QByteArray(limit + 1, '\n'), Fault::TooMany, limit + 1);
        Row("the limit ended by CR LF, and a last line without an end", QByteArray("\r\n").repeated(limit) + "x",
            Fault::TooMany, limit + 1);
    }

    void refusesBytesThatAreNotGbk()
    {
        QFETCH(QByteArray, bytes);
        const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
        QVERIFY2(decoded.keywords.isEmpty(), qPrintable(decoded.keywords.join('|')));
        QTEST(decoded.fault, "fault");
        QTEST(decoded.line, "line");
    }

    void decodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, keywords);
        const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
        QCOMPARE(decoded.fault, Fault::None);
        QCOMPARE(decoded.keywords, keywords);
        const KeywordFile::Encoded written = KeywordFile::Encode(keywords);
        QTEST(written.fault, "saved");
        // After the first, the add dialog and the editor take what the list saves at the same place.
        for (qsizetype i = 1; i < keywords.size() && written.fault == Fault::None; ++i)
            QVERIFY2(KeywordFile::Check(keywords.at(i), i + 1) == Fault::None, qPrintable(keywords.at(i)));
        QFETCH(bool, asWritten);
        QCOMPARE(written.bytes == bytes, asWritten);
    }

    void refusesKeywordsItCannotHold_data()
    {
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<qsizetype>("position");
        Row("LF", QStringList{"a", "b\nc"}, Fault::LineBreak, qsizetype(2));
        Row("NUL", QStringList{"a", QString::fromUtf16(u"b\0", 2)}, Fault::Nul, qsizetype(2));
        Row("emoji", QStringList{"ok", QStringLiteral("a😀")}, Fault::Unencodable, qsizetype(2));
        Row("lone surrogate", QStringList{"ok", "ok", QString(QChar(0xD800))}, Fault::Unencodable, qsizetype(3));
        Row("no GBK form, only a look-alike", QStringList{QStringLiteral("ä")}, Fault::Unencodable, qsizetype(1));
        Row("private use, written as 0xFF", QStringList{QString(QChar(0xF8F5))}, Fault::Unencodable, qsizetype(1));
        // GBK EF BB BF 40 78: the UTF-8 mark, then "@x", which is UTF-8 too.
        Row("would read back as UTF-8", QStringList{QStringLiteral("锘緻x")}, Fault::ReadsAsUtf8, qsizetype(1));
    }

    void refusesKeywordsItCannotHold()
    {
        QFETCH(QStringList, keywords);
        QFETCH(qsizetype, position);
        const KeywordFile::Encoded encoded = KeywordFile::Encode(keywords);
        QTEST(encoded.fault, "fault");
        QCOMPARE(encoded.position, position);
        QVERIFY2(encoded.bytes.isEmpty(), encoded.bytes.constData());
        QTEST(KeywordFile::Check(keywords.at(position - 1), position), "fault");
    }
};

QTEST_GUILESS_MAIN(TestKeywordFile)
#include "tst_keywordfile.moc"
