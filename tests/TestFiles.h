#pragma once

#include <QDir>
#include <QFile>

// Reads a whole file; a null array means there is no file at all.
inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

[[nodiscard]] inline bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

// Everything in a directory, hidden temporary files included.
inline QStringList Entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}
