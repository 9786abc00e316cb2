#include "HiddenCharacters.h"

#include <QChar>

bool IsHidden(char32_t character)
{
    switch (QChar::category(character)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_PrivateUse:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    case QChar::Separator_Space: // U+3000 looks like two spaces, U+00A0 like one
        return character != U' ';
    default:
        return false;
    }
}
