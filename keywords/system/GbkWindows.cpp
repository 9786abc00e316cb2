#include "Gbk.h"

#include <windows.h>

namespace {

constexpr UINT CodePage = 936;
// The system's calls count in int: long texts go in pieces of whole characters.
constexpr qsizetype Piece = qsizetype(1) << 28;

bool IsLeadByte(uchar byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

} // namespace

std::optional<QString> Gbk::Decode(QByteArrayView bytes)
{
    // A character is one or two bytes and one UTF-16 unit.
    QString decoded(bytes.size(), Qt::Uninitialized);
    qsizetype used = 0;
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = start;
        while (end < bytes.size() && end - start < Piece) {
            const uchar byte = uchar(bytes[end]);
            // Neither a character nor a lead or trail byte, though some of the
            // system's tables read it as the private-use U+F8F5.
            if (byte == 0xFF)
                return std::nullopt;
            end += IsLeadByte(byte) ? 2 : 1;
        }
        // A lead byte at the very end is refused here rather than left to the system.
        if (end > bytes.size())
            return std::nullopt;
        const int got = ::MultiByteToWideChar(CodePage, MB_ERR_INVALID_CHARS, bytes.data() + start, int(end - start),
                                              reinterpret_cast<wchar_t *>(decoded.data()) + used, int(end - start));
        if (got <= 0)
            return std::nullopt;
        used += got;
        start = end;
    }
    decoded.truncate(used);
    return decoded;
}

std::optional<QByteArray> Gbk::Encode(QStringView text)
{
    // At most two bytes for each UTF-16 unit.
    QByteArray encoded(text.size() * 2, Qt::Uninitialized);
    qsizetype used = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = qMin(text.size(), start + Piece);
        if (end < text.size() && text[end - 1].isHighSurrogate())
            --end;
        // Without the flag the system writes a look-alike for what GBK lacks
        // (an "a" for "ä"); with it, it writes the default character and says so.
        BOOL usedDefault = FALSE;
        const int got = ::WideCharToMultiByte(CodePage, WC_NO_BEST_FIT_CHARS,
                                              reinterpret_cast<const wchar_t *>(text.utf16()) + start, int(end - start),
                                              encoded.data() + used, int(2 * (end - start)), nullptr, &usedDefault);
        if (got <= 0 || usedDefault)
            return std::nullopt;
        used += got;
        start = end;
    }
    encoded.truncate(used);
    return encoded;
}
