#pragma once

#include <QByteArray>
#include <QStringList>

// The keyword file format: one keyword per line, every line ended by CR LF,
// in code page 936 (GBK) whatever the platform, because the filter and the
// files made on the systems this list comes from rely on it.
class KeywordFile
{
public:
    enum class Fault {
        None,
        LineBreak,   // would come back as two keywords
        Nul,         // a filter that reads keywords as C strings would see a shorter one
        Unencodable, // GBK cannot hold it; it would be written as something else
        ReadsAsUtf8, // the saved file would begin with a UTF-8 mark and be refused
    };

    // What saving the keyword alone would refuse, as Encode decides it.
    static Fault Check(const QString &keyword);
    // What is wrong with a keyword at fault, as words that follow "关键字".
    static QString FaultText(Fault fault);

    struct Decoded
    {
        QStringList keywords;
        bool ok = true;
        bool utf8 = false;     // UTF-8 with its byte-order mark, not GBK
        qsizetype badLine = 0; // 1-based line that is not valid GBK
    };
    // A line ends at CR LF, a lone LF or a lone CR. The last line counts even
    // without an end marker; an end marker at the very end adds no empty line.
    static Decoded Decode(const QByteArray &bytes);

    struct Encoded
    {
        QByteArray bytes;
        Fault fault = Fault::None;
        qsizetype badPosition = 0; // 1-based position of the first keyword at fault
    };
    // Refuses any list that would not decode back equal, or holds a NUL.
    static Encoded Encode(const QStringList &keywords);
};
