#pragma once

#include <QByteArray>
#include <QString>

#include <windows.h>

// Accounts as Windows numbers them, SIDs, for the Windows halves of the
// store; the POSIX halves have Accounts.
class WindowsAccounts
{
public:
    // The SID of the user running the program, as the process's token holds
    // it; empty when the token cannot be read. Its data() is the SID.
    static QByteArray CurrentUser();
    // A SID in its string form ("S-1-5-32-544"); empty for none.
    static QString Text(PSID sid);
    static QString WellKnown(WELL_KNOWN_SID_TYPE type);
    // DOMAIN\name, or the SID's string form when the system knows no name.
    static QString Name(PSID sid);
    // The same for a SID in its string form.
    static QString NameOf(const QString &sid);
    // The string form of a local group's SID; empty when there is none.
    static QString Group(const QString &name);
};
