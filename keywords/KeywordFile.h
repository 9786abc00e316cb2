#pragma once

#include <QByteArray>
#include <QStringList>

// The keyword file format: one keyword per line, every line ended by CR LF,
// in code page 936 (GBK) whatever the platform, because the filter and the
// files made on the systems this list comes from rely on it.
class KeywordFile
{
public:
    // What keeps a list from being written, or a file from being read; the
    // position of the keyword, or the line, at fault goes with it.
    enum class Fault {
        None,
        LineBreak,   // would come back as two keywords
        Nul,         // a filter that reads keywords as C strings would see a shorter one
        Unencodable, // GBK cannot hold it; it would be written as something else
        ReadsAsUtf8, // the saved file would begin with a UTF-8 mark and be refused
        Utf8,        // the file is UTF-8 with its byte-order mark, not GBK
        NotGbk,      // a line is not valid GBK
        TooMany,     // more than MaxKeywords
    };

    // A list of more keywords is neither read nor written. The window holds
    // some 100 bytes a keyword, a save twice that; without this bound a file
    // within the size limit could hold 16 million empty ones (a gigabyte).
    static constexpr qsizetype MaxKeywords = 2'000'000;

    // What saving the keyword at this 1-based position of a list would refuse,
    // as Encode decides it: only the first keyword begins the file.
    static Fault Check(const QString &keyword, qsizetype position);
    // What is wrong with a keyword that cannot be written, as words that
    // follow "关键字".
    static QString FaultText(Fault fault);

    struct Decoded
    {
        QStringList keywords;
        Fault fault = Fault::None;
        qsizetype line = 0; // 1-based, of the first line at fault; with TooMany, how many there are
    };
    // A line ends at CR LF, a lone LF or a lone CR. The last line counts even
    // without an end marker; an end marker at the very end adds no empty line.
    static Decoded Decode(const QByteArray &bytes);

    struct Encoded
    {
        QByteArray bytes;
        Fault fault = Fault::None;
        qsizetype position = 0; // 1-based, of the first keyword at fault; with TooMany, how many there are
    };
    // Refuses any list that would not decode back equal, or holds a NUL.
    static Encoded Encode(const QStringList &keywords);
};
