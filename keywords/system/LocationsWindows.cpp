#include "Locations.h"

#include <QDir>

Locations Locations::ForProgramDirectory(const QString &programDirectory)
{
    // The system's own form of the folder: backslashes, and at a drive root
    // the root's trailing one ("C:\"), which "/inject.txt" follows as it is.
    return {QDir::toNativeSeparators(programDirectory) + QStringLiteral("/inject.txt"), QStringLiteral("c:\\tarnwick"),
            QStringLiteral("C:\\tarnwick\\inject.txt")};
}
