#include "Accounts.h"

#include <QList>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

QString Accounts::UserName(uid_t user)
{
    const struct passwd *account = ::getpwuid(user);
    return account ? QString::fromLocal8Bit(account->pw_name) : QString::number(user);
}

QString Accounts::GroupName(gid_t group)
{
    const struct group *entry = ::getgrgid(group);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(group);
}

bool Accounts::InGroup(uid_t user, gid_t group)
{
    QList<gid_t> groups;
    if (user == ::geteuid()) {
        groups.resize(qMax(0, ::getgroups(0, nullptr)));
        groups.resize(qMax(0, ::getgroups(int(groups.size()), groups.data())));
        groups << ::getegid();
    } else if (const struct passwd *account = ::getpwuid(user)) {
        int count = 0;
        ::getgrouplist(account->pw_name, account->pw_gid, nullptr, &count);
        groups.resize(count);
        ::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count);
    }
    return groups.contains(group);
}
