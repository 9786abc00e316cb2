#include "Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// Stateless: a lead byte at the very end must count as an error rather than
// wait for a trail byte that never comes.
constexpr QStringConverter::Flags Flags = QStringConverter::Flag::Stateless;

} // namespace

bool Gbk::Decode(QByteArrayView bytes, QString *text)
{
    // 0xFF is neither a character nor a lead or trail byte; ICU reads it as
    // the private-use U+F8F5, which code page 936 on Windows refuses.
    if (bytes.contains('\xFF'))
        return false;
    QStringDecoder decoder("GBK", Flags);
    *text = decoder.decode(bytes);
    return !decoder.hasError();
}

bool Gbk::Encode(QStringView text, QByteArray *bytes)
{
    QStringEncoder encoder("GBK", Flags);
    *bytes = encoder.encode(text);
    return !encoder.hasError();
}
