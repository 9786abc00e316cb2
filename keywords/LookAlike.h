#pragma once

#include <QList>
#include <QStringView>

// The characters of a keyword that pass for other characters the list can
// hold, so that two keywords that differ would look alike: Cyrillic "е" for
// "e", Greek "α" for "a", "’" for "'", fullwidth "ｓ" for "s", Katakana "ロ"
// for the Chinese "口". Chinese characters are never among them, nor, in a
// keyword that holds one, the punctuation of Chinese text (fullwidth "，：（）",
// "…", "—"); curly quotes always are.
//
// Their UTF-16 positions, ascending; none for nearly every keyword. Plain
// ASCII costs one pass and no lookup: it runs at every repaint of a row.
QList<qsizetype> LookAlikes(QStringView keyword);
