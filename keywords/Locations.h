#pragma once

#include <QString>

// Where the keyword file lives: the working copy beside the program, and the
// folder and file that the web-server filter reads.
struct Locations
{
    QString workingCopy;
    QString filterDirectory;
    QString publishedCopy;

    // The program's fixed locations. The directory is used as the platform
    // reports it, and "/inject.txt" is always appended, even after a root's
    // trailing separator.
    static Locations ForProgramDirectory(const QString &programDirectory);

    // The same layout under another folder, for tests and benchmarks: the
    // program in ROOT/program and the filter's folder ROOT/tarnwick. Nothing
    // is created.
    static Locations InRoot(const QString &root)
    {
        return {root + QStringLiteral("/program/inject.txt"), root + QStringLiteral("/tarnwick"),
                root + QStringLiteral("/tarnwick/inject.txt")};
    }
};
