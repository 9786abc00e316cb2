#pragma once

#include <QString>

// A keyword as the user sees it, in the list, its tooltip and every message:
// each character that shows as nothing (HiddenCharacters) or passes for
// another (LookAlike) is marked with its code in single guillemets,
// "‹U+FEFF›", which GBK cannot encode, so that no keyword holds the marks
// themselves; a long keyword is cut after a number of characters, never
// inside one, and ends in "…".
class KeywordDisplay
{
public:
    static QString Shown(const QString &keyword, qsizetype characters);
    // Shown, in quotation marks, for a sentence.
    static QString Quoted(const QString &keyword, qsizetype characters);
};
