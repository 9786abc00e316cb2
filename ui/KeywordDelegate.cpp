#include "KeywordDelegate.h"

#include <QLineEdit>

void KeywordDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                   const QModelIndex &index) const
{
    const auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    const KeywordFile::Fault fault = KeywordFile::Check(line->text());
    if (fault != KeywordFile::Fault::None) {
        emit refused(fault);
        return;
    }
    model->setData(index, line->text(), Qt::EditRole);
}
