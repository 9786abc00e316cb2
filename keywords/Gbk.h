#pragma once

#include <QByteArray>
#include <QString>

// Code page 936 (GBK) both ways, the same on every platform: what one
// platform's tables would accept only by inventing a character is refused on
// all of them.
class Gbk
{
public:
    // False when the bytes are not GBK, a lead byte at the very end included.
    [[nodiscard]] static bool Decode(QByteArrayView bytes, QString *text);
    // False when a character has no GBK form; nothing is replaced by a look-alike.
    [[nodiscard]] static bool Encode(QStringView text, QByteArray *bytes);
};
