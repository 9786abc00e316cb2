#include "Locations.h"

Locations Locations::ForProgramDirectory(const QString &programDirectory)
{
#ifdef Q_OS_WIN
    return {programDirectory + QStringLiteral("/inject.txt"), QStringLiteral("c:\\tarnwick"),
            QStringLiteral("C:\\tarnwick\\inject.txt")};
#else
    // No drive letters here: the system drive's root is "/".
    return {programDirectory + QStringLiteral("/inject.txt"), QStringLiteral("/tarnwick"),
            QStringLiteral("/tarnwick/inject.txt")};
#endif
}
