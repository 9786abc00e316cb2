#pragma once

#include <QTableView>

// The keyword list as the user sees it: one column under a heading, rows of
// one height, no grid, moved through with the keys of a list. A table rather
// than a tree: a tree lays out every row again whenever one is added or
// deleted, which takes some 50 ms at a million rows.
class KeywordView : public QTableView
{
    Q_OBJECT

public:
    explicit KeywordView(QWidget *parent = nullptr);

    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
};
