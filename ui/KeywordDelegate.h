#pragma once

#include "KeywordFile.h"

#include <QStyledItemDelegate>

// Edits a keyword in place, but never stores text that the keyword file
// could not hold: such an edit is dropped and reported through refused().
class KeywordDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;

signals:
    // Queued: the editor is still closing when the edit is refused.
    void refused(KeywordFile::Fault fault) const;
};
