#pragma once

#include <QByteArray>
#include <QStringList>

// The working copy as the store last read or wrote it, so that a save can
// tell whether someone else has replaced it since, and what they changed.
struct LastSeen
{
    QByteArray bytes;
    QStringList keywords;
};
