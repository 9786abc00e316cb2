#include "KeywordFile.h"

#include <QIODevice>
#include <QStringDecoder>
#include <QStringEncoder>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr const char *Codec = "GBK";

// Stateless: a lead byte at the very end must count as an error rather than
// wait for a trail byte that never comes.
constexpr QStringConverter::Flags ConverterFlags = QStringConverter::Flag::Stateless;

bool HasLineBreak(QStringView text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

// The position of the first CR or LF at or after i, or a position among the
// last few chars, from where the caller looks one by one. Looking at every
// char in turn was a good part of the time it took to cut up a large file.
inline qsizetype SkipToLineEnd(const char16_t *chars, qsizetype i, qsizetype size)
{
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi16('\r');
    const __m128i lf = _mm_set1_epi16('\n');
    while (i + 8 <= size) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chars + i));
        const int mask = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi16(eight, cr), _mm_cmpeq_epi16(eight, lf)));
        if (mask != 0)
            return i + qCountTrailingZeroBits(uint(mask)) / 2;
        i += 8;
    }
#else
    Q_UNUSED(chars);
    Q_UNUSED(size);
#endif
    return i;
}

// Calls lineFound(first, length) for each line of a sequence of chars.
// lineFound may overwrite the line's end marker, which is read before.
// GBK trail bytes never take the values of CR or LF, so raw bytes split the
// same way as decoded text.
template<typename Char, typename Callback>
void ForEachLine(const Char *begin, qsizetype size, Callback &&lineFound)
{
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < size) {
        if constexpr (sizeof(Char) == 2) {
            i = SkipToLineEnd(begin, i, size);
            if (i == size)
                break;
        }
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

// Each keyword is a piece of the decoded text, not a copy: one block for the
// whole file instead of one allocation per keyword, which made loading a large
// list cost several times the decoding alone. The pieces share the block as
// copies of one string do, so changing one copies it first, and the block
// goes when the last of them does. Each line end becomes a NUL, so every piece
// still ends in one as a QString's text must.
QStringList CutIntoKeywords(QString text)
{
    QStringList keywords;
    char16_t *const chars = reinterpret_cast<char16_t *>(text.data());
    ForEachLine(chars, text.size(), [&](qsizetype start, qsizetype length) {
        chars[start + length] = u'\0'; // at the very end: the text's own NUL
        QString::DataPointer piece = text.data_ptr();
        piece.ptr = chars + start;
        piece.size = length;
        keywords.append(QString(std::move(piece)));
    });
    return keywords;
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
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        result.ok = false;
        qsizetype line = 0;
        ForEachLine(bytes.constData(), bytes.size(), [&](qsizetype start, qsizetype length) {
            ++line;
            if (result.badLine == 0 && !DecodesCleanly(QByteArrayView(bytes).sliced(start, length)))
                result.badLine = line;
        });
        // Every fault lies within a line, since line ends are never part of
        // a character; this only keeps the report a line number regardless.
        if (result.badLine == 0)
            result.badLine = qMax<qsizetype>(line, 1);
        return result;
    }

    result.keywords = CutIntoKeywords(std::move(text));
    return result;
}

bool KeywordFile::DecodeFrom(QIODevice &device, Decoded *decoded, qsizetype pieceSize)
{
    Q_ASSERT(pieceSize > 0);
    const qint64 start = device.pos();
    // Refused bytes and the UTF-8 mark: Decode() finds the line at fault.
    auto decodeWhole = [&] {
        if (!device.seek(start))
            return false;
        *decoded = Decode(device.readAll());
        return true;
    };

    QStringDecoder decoder(Codec, ConverterFlags);
    // Never more characters than bytes.
    QString text(qMax<qint64>(0, device.size() - start), Qt::Uninitialized);
    qsizetype used = 0;
    QByteArray piece;
    for (bool first = true;; first = false) {
        const qsizetype carried = piece.size();
        piece.resize(carried + pieceSize);
        const qint64 got = device.read(piece.data() + carried, pieceSize);
        if (got < 0)
            return false;
        piece.resize(carried + got);
        const bool atEnd = got == 0;
        // Also when the first bytes are too few to tell.
        if (first && !piece.isEmpty() && QByteArrayView("\xEF\xBB\xBF").startsWith(piece.left(3)))
            return decodeWhole();

        // Up to the last line end: no character spans one, so each piece
        // decodes on its own exactly as it would within the whole file.
        const qsizetype ready =
            atEnd ? piece.size() : qMax(piece.lastIndexOf('\n'), piece.lastIndexOf('\r')) + 1;
        if (ready > 0) {
            if (text.size() - used < ready)
                text.resize(used + ready); // the file grew while being read
            QChar *const begin = text.data();
            used = decoder.appendToBuffer(begin + used, QByteArrayView(piece).first(ready)) - begin;
            if (decoder.hasError())
                return decodeWhole();
            piece.remove(0, ready);
        }
        if (atEnd)
            break;
    }
    text.truncate(used);
    *decoded = Decoded();
    decoded->keywords = CutIntoKeywords(std::move(text));
    return true;
}

KeywordFile::Encoded KeywordFile::Encode(const QStringList &keywords)
{
    Encoded result;
    QString text = keywords.join(QStringView(u"\r\n"));
    if (!keywords.isEmpty())
        text.append(u"\r\n");

    // One line per keyword, unless a keyword holds a line break: one pass
    // over the whole text, rather than two searches in every keyword.
    qsizetype lines = 0;
    ForEachLine(reinterpret_cast<const char16_t *>(text.constData()), text.size(),
                [&lines](qsizetype, qsizetype) { ++lines; });
    if (lines == keywords.size() && EncodeFaithfully(text, &result.bytes))
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
