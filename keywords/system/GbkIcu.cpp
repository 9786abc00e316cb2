#include "Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// Stateless: a lead byte at the very end must count as an error rather than
// wait for a trail byte that never comes.
constexpr QStringConverter::Flags Flags = QStringConverter::Flag::Stateless;

} // namespace

std::optional<QString> Gbk::Decode(QByteArrayView bytes)
{
    // 0xFF is neither a character nor a lead or trail byte; ICU reads it as
    // the private-use U+F8F5, which code page 936 on Windows refuses.
    if (bytes.contains('\xFF'))
        return std::nullopt;
    QStringDecoder decoder("GBK", Flags);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QByteArray> Gbk::Encode(QStringView text)
{
    QStringEncoder encoder("GBK", Flags);
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}
