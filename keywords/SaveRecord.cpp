#include "SaveRecord.h"

namespace {

// A record stays one line of bounded length whatever the keywords hold.
QString Quoted(const QString &text, qsizetype shown = 100)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text.left(shown)) {
        if (c == u'"' || c == u'\\')
            quoted += u'\\';
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            quoted += c;
    }
    return quoted + (text.size() > shown ? QStringLiteral("…\"") : QStringLiteral("\""));
}

} // namespace

QString SaveRecord::Line() const
{
    constexpr qsizetype Listed = 2000; // characters of keywords, enough for any hand edit
    static const char *const results[] = {"saved", "failed", "cancelled"};
    QStringList wrote;
    if (workingWritten)
        wrote << QStringLiteral("working");
    if (publishedWritten)
        wrote << QStringLiteral("published");
    QString line = QStringLiteral("result=%1 wrote=%2").arg(QLatin1String(results[int(result)]),
                                                            wrote.isEmpty() ? QStringLiteral("none") : wrote.join(u','));
    if (counted) {
        line += QStringLiteral(" added=%1 removed=%2 keywords=").arg(changes.added.size()).arg(changes.removed.size());
        QString listed;
        qsizetype left = changes.added.size() + changes.removed.size();
        for (const auto &[sign, keywords] : {std::pair(u'+', &changes.added), std::pair(u'-', &changes.removed)})
            for (const QString &keyword : *keywords) {
                if (listed.size() > Listed)
                    break;
                listed += (listed.isEmpty() ? QString() : QStringLiteral(" ")) + sign + Quoted(keyword);
                --left;
            }
        line += listed.isEmpty() ? QStringLiteral("none") : listed;
        if (left > 0)
            line += QStringLiteral(" (%1 more)").arg(left);
    }
    line += QStringLiteral(" working=%1 published=%2").arg(Quoted(workingPath, 4096), Quoted(publishedPath, 4096));
    if (result == Result::Failed)
        line += QStringLiteral(" reason=") + Quoted(reason, 4096);
    return line;
}
