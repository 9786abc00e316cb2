#include "KeywordDelegate.h"

#include "KeywordDisplay.h"
#include "KeywordRefusal.h"

#include <QLineEdit>

#include <limits>

QString KeywordDelegate::displayText(const QVariant &value, const QLocale &locale) const
{
    // Laying out a keyword of millions of characters takes seconds, at every
    // repaint of its row.
    return QStyledItemDelegate::displayText(KeywordDisplay::Shown(value.toString(), ShownLength), locale);
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
    if (const QString refusal = KeywordRefusal(line->text(), index.row() + 1); !refusal.isEmpty()) {
        emit Refused(refusal);
        return;
    }
    model->setData(index, line->text(), Qt::EditRole);
}
