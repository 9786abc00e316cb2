#pragma once

#include <QByteArray>
#include <QStringList>

class QIODevice;

// The keyword file format: one keyword per line, every line ended by CR LF,
// in code page 936 (GBK) whatever the platform, because the filter and the
// files made on the systems this list comes from rely on it.
class KeywordFile
{
public:
    enum class Fault {
        None,
        LineBreak,   // would come back as two keywords
        Unencodable, // GBK cannot hold it; it would be written as something else
    };

    // Whether the keyword comes back unchanged after a save and a load.
    static Fault Check(const QString &keyword);

    struct Decoded
    {
        QStringList keywords;
        bool ok = true;
        bool utf8ByteOrderMark = false;
        qsizetype badLine = 0; // 1-based line that is not valid GBK
    };
    // A line ends at CR LF, a lone LF or a lone CR. The last line counts even
    // without an end marker; an end marker at the very end adds no empty line.
    static Decoded Decode(const QByteArray &bytes);
    // The same as Decode(device.readAll()) from the device's position on, but
    // reading pieceSize bytes at a time rather than holding all of them. False
    // when reading fails; a file's error() tells more. The device must be able
    // to seek back to where it started.
    static bool DecodeFrom(QIODevice &device, Decoded *decoded, qsizetype pieceSize = 256 * 1024);

    struct Encoded
    {
        QByteArray bytes;
        Fault fault = Fault::None;
        qsizetype badPosition = 0; // 1-based position of the first keyword at fault
    };
    static Encoded Encode(const QStringList &keywords);
};
