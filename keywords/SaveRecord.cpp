#include "SaveRecord.h"

#include "HiddenCharacters.h"
#include "LookAlike.h"

namespace {

const char *Word(SaveRecord::Result result)
{
    switch (result) {
    case SaveRecord::Result::Saved:
        return "saved";
    case SaveRecord::Result::Failed:
        return "failed";
    case SaveRecord::Result::Cancelled:
        return "cancelled";
    }
    return "failed";
}

qsizetype Utf8Size(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

qsizetype Utf8Size(QStringView text)
{
    qsizetype size = 0;
    for (const QChar c : text)
        size += c.isSurrogate() ? 2 : Utf8Size(c.unicode()); // a pair takes four
    return size;
}

// The text in quotes, on one line whatever it holds, in at most maxBytes of
// UTF-8 with the quotes: a quote or backslash after a backslash, a control
// as "\x" and two hex digits, and any other character that shows as nothing,
// or in a keyword passes for another (LookAlikes: curly quotes among them,
// which would seem to end the value), as "\u" and four (beyond the first
// plane "\U" and eight); cut with "…" where the whole would not fit. The
// program's own messages quote keywords with their look-alikes marked.
enum class Text { Keyword, Message };
QString Quoted(QStringView text, qsizetype maxBytes, Text kind = Text::Message)
{
    const qsizetype cutEnd = Utf8Size(u'…') + 1;
    // Each character takes a byte at least: what lies beyond is cut anyway.
    const QList<qsizetype> alike =
            kind == Text::Keyword ? LookAlikes(text.first(qMin(text.size(), maxBytes))) : QList<qsizetype>();
    auto nextAlike = alike.cbegin();
    QString quoted = QStringLiteral("\"");
    qsizetype bytes = 1, cut = -1;
    for (qsizetype i = 0; i < text.size();) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        const qsizetype units = pair ? 2 : 1;
        const bool looksAlike = nextAlike != alike.cend() && *nextAlike == i;
        if (looksAlike)
            ++nextAlike;
        QString piece;
        if (c == u'"' || c == u'\\')
            piece = u'\\' + text.sliced(i, 1).toString();
        else if (c < 0x20 || c == 0x7f)
            piece = QStringLiteral("\\x%1").arg(uint(c), 2, 16, QChar(u'0'));
        else if (IsHidden(c) || looksAlike)
            piece = c > 0xffff ? QStringLiteral("\\U%1").arg(uint(c), 8, 16, QChar(u'0'))
                               : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QChar(u'0'));
        else
            piece = text.sliced(i, units).toString();
        const qsizetype pieceBytes = piece.size() > units ? piece.size() : Utf8Size(c);
        if (cut < 0 && bytes + pieceBytes + cutEnd > maxBytes)
            cut = quoted.size(); // the last place with room for the cut's end
        if (bytes + pieceBytes + 1 > maxBytes)
            return quoted.left(cut) + QStringLiteral("…\"");
        quoted += piece;
        bytes += pieceBytes;
        i += units;
    }
    return quoted + u'"';
}

} // namespace

QString SaveRecord::Line() const
{
    constexpr qsizetype Path = 700, Reason = 1400, Keyword = 300, More = 16; // " (NNNNNNNN more)"
    const auto copies = [](bool working, bool published) {
        QStringList names;
        if (working)
            names << QStringLiteral("working");
        if (published)
            names << QStringLiteral("published");
        return names.isEmpty() ? QStringLiteral("none") : names.join(u',');
    };
    QString line = QStringLiteral("result=%1 wrote=%2")
                           .arg(QLatin1String(Word(result)), copies(workingWritten, publishedWritten));
    if (workingTightened || publishedTightened)
        line += QStringLiteral(" tightened=") + copies(workingTightened, publishedTightened);
    if (counted)
        line += QStringLiteral(" added=%1 removed=%2").arg(changes.added.size()).arg(changes.removed.size());
    line += QStringLiteral(" working=") + Quoted(workingPath, Path) + QStringLiteral(" published=")
          + Quoted(publishedPath, Path);
    if (result == Result::Failed)
        line += QStringLiteral(" reason=") + Quoted(reason, Reason);
    if (!counted)
        return line;

    line += QStringLiteral(" keywords=");
    qsizetype bytes = Utf8Size(line);
    const qsizetype all = changes.added.size() + changes.removed.size();
    qsizetype listed = 0;
    for (const auto &[sign, keywords] : {std::pair(u'+', &changes.added), std::pair(u'-', &changes.removed)}) {
        for (const QString &keyword : *keywords) {
            const QString item =
                    (listed ? QStringLiteral(" ") : QString()) + sign + Quoted(keyword, Keyword, Text::Keyword);
            const qsizetype itemBytes = Utf8Size(item);
            if (bytes + itemBytes + (listed + 1 < all ? More : 0) > MaxLine)
                break;
            line += item;
            bytes += itemBytes;
            ++listed;
        }
        if (listed < changes.added.size())
            break;
    }
    if (all == 0)
        line += QStringLiteral("none");
    else if (listed < all)
        line += (listed ? QStringLiteral(" ") : QString()) + QStringLiteral("(%1 more)").arg(all - listed);
    return line;
}
