#pragma once

#include <QStyledItemDelegate>

// Shows a keyword in the list and edits it in place, but never stores text
// that the keyword file could not hold: such an edit is dropped and reported
// through Refused(). An edit that changes nothing stores nothing.
//
// The column is wider than the view, so a keyword is shortened, with "…",
// where the view ends, and one shown shortened has the whole of it, up to
// TipLength characters, in its tooltip. A row that is not picked never looks
// picked: the row that the arrow keys move from has a dotted outline only.
class KeywordDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The most characters of a keyword that the list shows; a longer one is
    // shown shortened, with an ellipsis. Far more than a column shows, but
    // few enough to lay out at once.
    static constexpr qsizetype ShownLength = 1000;
    // The most characters that a tooltip shows, some dozens of lines.
    static constexpr qsizetype TipLength = 2000;

    QString displayText(const QVariant &value, const QLocale &locale) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

signals:
    // Queued: the editor is still closing when the edit is refused.
    void Refused(const QString &why) const;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
