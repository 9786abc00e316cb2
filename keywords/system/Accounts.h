#pragma once

#include <QString>

#include <sys/types.h>

// Users and groups as the system names them, and who belongs to a group.
class Accounts
{
public:
    // The name, or the number when the system knows none.
    static QString UserName(uid_t user);
    static QString GroupName(gid_t group);
    // For this process, the groups it holds now; for anyone else, those the
    // group database gives them.
    static bool InGroup(uid_t user, gid_t group);
};
