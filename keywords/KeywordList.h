#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The one ordered list of keywords. Positions are counted from 1; the list
// view shows this model directly, so there is never a second copy.
class KeywordList : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit KeywordList(QObject *parent = nullptr);

    void Append(const QString &text);
    void AppendAll(const QStringList &texts);
    void AppendAll(QStringList &&texts);
    void RemoveAt(qsizetype position);
    void Clear();

    qsizetype Count() const { return m_texts.size(); }
    QString Text(qsizetype position) const;
    const QStringList &Texts() const { return m_texts; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;

private:
    QStringList m_texts;
    QString m_heading;
};
