#pragma once

// Files for the tests and the benchmarks, on the keyword store and Qt Core
// only.

#include "KeywordFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

[[nodiscard]] inline bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

// A keyword file as the program writes it; false when it cannot hold them.
[[nodiscard]] inline bool WriteKeywords(const QString &path, const QStringList &keywords)
{
    const KeywordFile::Encoded encoded = KeywordFile::Encode(keywords);
    return QDir().mkpath(QFileInfo(path).path()) && encoded.fault == KeywordFile::Fault::None
        && WriteAll(path, encoded.bytes);
}

// Everything in a directory, hidden temporary files included.
inline QStringList Entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}
