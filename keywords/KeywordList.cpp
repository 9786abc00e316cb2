#include "KeywordList.h"

KeywordList::KeywordList(QObject *parent)
    : QAbstractListModel(parent)
{
}

void KeywordList::Append(const QString &text)
{
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    m_texts.append(text);
    endInsertRows();
}

void KeywordList::AppendAll(const QStringList &texts)
{
    AppendAll(QStringList(texts));
}

void KeywordList::AppendAll(QStringList &&texts)
{
    if (texts.isEmpty())
        return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + int(texts.size()) - 1);
    // Taking the list whole saves touching every keyword of a large file.
    if (m_texts.isEmpty())
        m_texts = std::move(texts);
    else
        m_texts.append(std::move(texts));
    endInsertRows();
}

void KeywordList::RemoveAt(qsizetype position)
{
    // Callers hold a valid position; anything else is a bug that must not
    // quietly delete the wrong keyword, so it stops the program in every build.
    if (position < 1 || position > Count())
        qFatal("KeywordList::RemoveAt: position %lld is outside 1..%lld", static_cast<long long>(position),
               static_cast<long long>(Count()));
    const int row = int(position - 1);
    beginRemoveRows(QModelIndex(), row, row);
    m_texts.removeAt(row);
    endRemoveRows();
}

void KeywordList::Clear()
{
    beginResetModel();
    m_texts.clear();
    endResetModel();
}

QString KeywordList::Text(qsizetype position) const
{
    Q_ASSERT(position >= 1 && position <= Count());
    return m_texts.at(position - 1);
}

int KeywordList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_texts.size());
}

QVariant KeywordList::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_texts.at(index.row());
    return {};
}

bool KeywordList::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const QString text = value.toString();
    if (m_texts.at(index.row()) != text) {
        m_texts[index.row()] = text;
        emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    }
    return true;
}

Qt::ItemFlags KeywordList::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemNeverHasChildren;
}

QVariant KeywordList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_heading;
    return QAbstractListModel::headerData(section, orientation, role);
}

bool KeywordList::setHeaderData(int section, Qt::Orientation orientation, const QVariant &value, int role)
{
    if (section != 0 || orientation != Qt::Horizontal || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    m_heading = value.toString();
    emit headerDataChanged(orientation, 0, 0);
    return true;
}
