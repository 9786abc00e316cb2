#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Code page 936 (GBK) both ways, the same on every platform: what one
// platform's tables would accept only by inventing a character is refused on
// all of them.
class Gbk
{
public:
    // Nothing when the bytes are not GBK, a lead byte at the very end included.
    static std::optional<QString> Decode(QByteArrayView bytes);
    // Nothing when a character has no GBK form; nothing is replaced by a look-alike.
    static std::optional<QByteArray> Encode(QStringView text);
};
