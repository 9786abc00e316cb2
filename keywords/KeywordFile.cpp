#include "KeywordFile.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr const char *Codec = "GBK";

// Stateless: a lead byte at the very end must count as an error rather than
// wait for a trail byte that never comes.
constexpr QStringConverter::Flags ConverterFlags = QStringConverter::Flag::Stateless;

bool HasLineBreak(QStringView text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

// Calls lineFound(first, length) for each line of a sequence of chars.
// GBK trail bytes never take the values of CR or LF, so raw bytes split the
// same way as decoded text.
template<typename Char, typename Callback>
void ForEachLine(const Char *begin, qsizetype size, Callback &&lineFound)
{
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < size) {
        const Char c = begin[i];
        if (c != Char('\r') && c != Char('\n')) {
            ++i;
            continue;
        }
        lineFound(start, i - start);
        i += (c == Char('\r') && i + 1 < size && begin[i + 1] == Char('\n')) ? 2 : 1;
        start = i;
    }
    if (start < size)
        lineFound(start, size - start);
}

bool DecodesCleanly(QByteArrayView bytes)
{
    QStringDecoder decoder(Codec, ConverterFlags);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// Encodes and checks that the bytes read back as the same text, which also
// catches characters that the encoder maps to a look-alike.
bool EncodeFaithfully(const QString &text, QByteArray *bytes)
{
    if (!QStringView(text).isValidUtf16())
        return false;
    QStringEncoder encoder(Codec, ConverterFlags);
    *bytes = encoder.encode(text);
    if (encoder.hasError())
        return false;
    QStringDecoder decoder(Codec, ConverterFlags);
    const QString back = decoder.decode(*bytes);
    return !decoder.hasError() && back == text;
}

} // namespace

KeywordFile::Fault KeywordFile::Check(const QString &keyword)
{
    if (HasLineBreak(keyword))
        return Fault::LineBreak;
    QByteArray bytes;
    return EncodeFaithfully(keyword, &bytes) ? Fault::None : Fault::Unencodable;
}

KeywordFile::Decoded KeywordFile::Decode(const QByteArray &bytes)
{
    Decoded result;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        result.ok = false;
        result.utf8ByteOrderMark = true;
        result.badLine = 1;
        return result;
    }

    QStringDecoder decoder(Codec, ConverterFlags);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        result.ok = false;
        qsizetype line = 0;
        ForEachLine(bytes.constData(), bytes.size(), [&](qsizetype start, qsizetype length) {
            ++line;
            if (result.badLine == 0 && !DecodesCleanly(QByteArrayView(bytes).sliced(start, length)))
                result.badLine = line;
        });
        // Not on any line: the fault straddles a line end, which the line
        // before it holds.
        if (result.badLine == 0)
            result.badLine = qMax<qsizetype>(line, 1);
        return result;
    }

    ForEachLine(text.constData(), text.size(), [&](qsizetype start, qsizetype length) {
        result.keywords.append(text.sliced(start, length));
    });
    return result;
}

KeywordFile::Encoded KeywordFile::Encode(const QStringList &keywords)
{
    Encoded result;
    qsizetype size = 0;
    for (const QString &keyword : keywords)
        size += keyword.size() + 2;

    QString text;
    text.reserve(size);
    bool lineBreak = false;
    for (const QString &keyword : keywords) {
        lineBreak = lineBreak || HasLineBreak(keyword);
        text.append(keyword);
        text.append(u"\r\n");
    }

    if (!lineBreak && EncodeFaithfully(text, &result.bytes))
        return result;

    result.bytes.clear();
    for (qsizetype i = 0; i < keywords.size(); ++i) {
        const Fault fault = Check(keywords.at(i));
        if (fault != Fault::None) {
            result.fault = fault;
            result.badPosition = i + 1;
            return result;
        }
    }
    // Each keyword is fine alone but the whole is not: cannot happen with a
    // stateless single-byte/double-byte code page, but never report success.
    result.fault = Fault::Unencodable;
    result.badPosition = keywords.size();
    return result;
}
