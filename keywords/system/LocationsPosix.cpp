#include "Locations.h"

Locations Locations::ForProgramDirectory(const QString &programDirectory)
{
    // No drive letters here: the system drive's root is "/".
    return {programDirectory + QStringLiteral("/inject.txt"), QStringLiteral("/tarnwick"),
            QStringLiteral("/tarnwick/inject.txt")};
}
