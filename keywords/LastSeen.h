#pragma once

#include <QByteArray>

// The working copy as the store last read or wrote it, so that a save can
// tell whether someone else has replaced it since, and what they changed.
// Only its bytes: a list of its keywords would share the window's, and the
// first edit would then copy every keyword (some 60 ms at a million).
struct LastSeen
{
    QByteArray bytes;
};
