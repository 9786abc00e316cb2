#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with bytes so that readers and a crash see either
// the whole old file or the whole new one: the bytes go to a new file in the
// same directory, are flushed to disk, and take the old name in one rename.
// A symbolic link is followed and the file it points to is replaced. An
// existing file keeps its permission bits; a new one is made readable by all
// (0644), whatever the umask, because another user's process reads it.
// On failure, reason says why and the old file is left as it was.
[[nodiscard]] bool WriteFileSafely(const QString &path, const QByteArray &bytes, QString *reason);
