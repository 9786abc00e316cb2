#pragma once

#include <QStyledItemDelegate>

// Shows a keyword in the list and edits it in place, but never stores text
// that the keyword file could not hold: such an edit is dropped and reported
// through Refused(). An edit that changes nothing stores nothing.
class KeywordDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The most characters of a keyword that the list shows; a longer one is
    // shown shortened, with an ellipsis. Far more than a column shows, but
    // few enough to lay out at once.
    static constexpr qsizetype ShownLength = 1000;

    QString displayText(const QVariant &value, const QLocale &locale) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;

signals:
    // Queued: the editor is still closing when the edit is refused.
    void Refused(const QString &why) const;
};
