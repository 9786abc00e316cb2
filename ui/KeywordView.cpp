#include "KeywordView.h"

#include <QHeaderView>
#include <QScrollBar>

KeywordView::KeywordView(QWidget *parent)
    : QTableView(parent)
{
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setSortingEnabled(false);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectRows);
    setEditTriggers(EditKeyPressed | DoubleClicked);
    // A column wider than the view scrolls by the pixel, not out of sight.
    setHorizontalScrollMode(ScrollPerPixel);

    QHeaderView *heading = horizontalHeader();
    heading->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    heading->setHighlightSections(false);
    heading->setStretchLastSection(false);
    heading->setSectionsClickable(false);
    heading->setSectionsMovable(false);

    // Every row as tall as a row of plain text; a row sized to its own text
    // would be measured whenever it is shown.
    QStyleOptionViewItem option;
    option.initFrom(this);
    option.widget = this;
    const int rowHeight = itemDelegate()->sizeHint(option, QModelIndex()).height();
    QHeaderView *rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(rowHeight);
    rows->setDefaultSectionSize(rowHeight);
}

void KeywordView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    // Rows just added are not in the scroll range until the view's next
    // layout; scrolling to one of them would stop short of it.
    updateGeometries();
    QTableView::scrollTo(index, hint);
}

QModelIndex KeywordView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    switch (action) {
    case MoveHome:
    case MoveEnd: // to the first or the last row, not along the row
        return QTableView::moveCursor(action, modifiers | Qt::ControlModifier);
    case MoveLeft:
    case MoveRight: // sideways over a keyword wider than the view
        horizontalScrollBar()->triggerAction(action == MoveLeft ? QScrollBar::SliderSingleStepSub
                                                                : QScrollBar::SliderSingleStepAdd);
        return currentIndex();
    case MovePageUp: { // a page from the top of the current row, as a page down
        const QModelIndex current = currentIndex();
        if (!current.isValid())
            break;
        const int row = rowAt(visualRect(current).top() - viewport()->height());
        return model()->index(qMax(row, 0), 0);
    }
    default:
        break;
    }
    return QTableView::moveCursor(action, modifiers);
}
