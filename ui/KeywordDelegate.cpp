#include "KeywordDelegate.h"

#include "KeywordDisplay.h"
#include "KeywordRefusal.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolTip>

#include <limits>

namespace {

// The part of a row inside the view: the column runs past its right edge.
QRect InSight(const QStyleOptionViewItem &option)
{
    QRect rect = option.rect;
    if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
        rect.setRight(qMin(rect.right(), view->viewport()->rect().right()));
    return rect;
}

// A tooltip breaks lines only at spaces, and a keyword seldom has any: the
// text as plain text in lines of its own, never breaking a mark or a
// surrogate pair, its spaces kept.
QString TipHtml(const QString &shown)
{
    constexpr qsizetype LineLength = 80;
    QStringList lines{QString()};
    bool inMark = false;
    for (const QChar c : shown) {
        lines.last() += c;
        inMark = c == u'‹' || (inMark && c != u'›');
        if (lines.last().size() >= LineLength && !inMark && !c.isHighSurrogate())
            lines << QString();
    }
    for (QString &line : lines)
        line = line.toHtmlEscaped();
    return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(lines.join(QStringLiteral("<br>")));
}

} // namespace

QString KeywordDelegate::displayText(const QVariant &value, const QLocale &locale) const
{
    // Laying out a keyword of millions of characters takes seconds, at every
    // repaint of its row.
    return QStyledItemDelegate::displayText(KeywordDisplay::Shown(value.toString(), ShownLength), locale);
}

void KeywordDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->rect = InSight(*option);
}

void KeywordDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (!option.state.testFlag(QStyle::State_HasFocus) || option.state.testFlag(QStyle::State_Selected)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // Some styles fill the focused row as if it were picked, yet Delete
    // does nothing to it.
    QStyleOptionViewItem unfocused = option;
    unfocused.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, unfocused, index);
    painter->save();
    painter->setPen(QPen(option.palette.color(QPalette::Text), 1, Qt::DotLine));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(InSight(option).adjusted(0, 0, -1, -1));
    painter->restore();
}

bool KeywordDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem shown = option;
    initStyleOption(&shown, index);
    // The margins that the style keeps on each side of an item's text.
    const QStyle *style = view->style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &shown, view).width() - 2 * margin;
    if (shown.fontMetrics.horizontalAdvance(shown.text) <= room) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(),
                       TipHtml(KeywordDisplay::Shown(index.data(Qt::EditRole).toString(), TipLength)), view->viewport(),
                       option.rect);
    return true;
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

void KeywordDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
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
