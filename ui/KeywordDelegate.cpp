#include "KeywordDelegate.h"

#include "KeywordRefusal.h"

#include <QLineEdit>

#include <limits>

QString KeywordDelegate::displayText(const QVariant &value, const QLocale &locale) const
{
    // Laying out a keyword of millions of characters takes seconds, at every
    // repaint of its row.
    // Keywords hold GBK characters only, none of them a surrogate pair, so
    // the cut splits no character.
    QString text = value.toString();
    if (text.size() > ShownLength)
        text = text.first(ShownLength) + QChar(0x2026);
    return QStyledItemDelegate::displayText(text, locale);
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
