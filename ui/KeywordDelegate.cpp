#include "KeywordDelegate.h"

#include "HiddenCharacters.h"
#include "KeywordRefusal.h"

#include <QLineEdit>

#include <algorithm>
#include <limits>

QString KeywordDelegate::Shown(const QString &keyword, qsizetype length)
{
    // Keywords hold GBK characters only, none of them a surrogate pair, so
    // the cut splits no character and each one is a single QChar.
    const QStringView kept = QStringView(keyword).first(qMin(length, keyword.size()));
    // Run at every repaint of a row: a plain keyword costs one pass, no copy,
    // and its printable ASCII no lookup.
    const auto hidden = [](QChar c) { return (c.unicode() < 0x20 || c.unicode() > 0x7e) && IsHidden(c.unicode()); };
    if (kept.size() == keyword.size() && std::none_of(kept.begin(), kept.end(), hidden))
        return keyword;
    QString shown;
    for (const QChar c : kept) {
        if (hidden(c))
            shown += QStringLiteral("‹U+%1›").arg(c.unicode(), 4, 16, QChar(u'0')).toUpper();
        else
            shown += c;
    }
    if (kept.size() < keyword.size())
        shown += QChar(0x2026);
    return shown;
}

QString KeywordDelegate::displayText(const QVariant &value, const QLocale &locale) const
{
    // Laying out a keyword of millions of characters takes seconds, at every
    // repaint of its row.
    return QStyledItemDelegate::displayText(Shown(value.toString()), locale);
}

QWidget *KeywordDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                       const QModelIndex &index) const
{
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    // Before the keyword is put in: the line edit would cut it at 32,767.
    if (auto *line = qobject_cast<QLineEdit *>(editor))
        line->setMaxLength(std::numeric_limits<int>::max());
    return editor;
}

void KeywordDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                   const QModelIndex &index) const
{
    const auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    // A keyword read from the file is kept as it is, even one that could not
    // be typed.
    if (line->text() == index.data(Qt::EditRole).toString())
        return;
    if (const QString refusal = KeywordRefusal(line->text()); !refusal.isEmpty()) {
        emit Refused(refusal);
        return;
    }
    model->setData(index, line->text(), Qt::EditRole);
}
