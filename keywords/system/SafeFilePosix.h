#pragma once

// What the POSIX half of SafeFile shares between its files: descriptors, the
// failures it reports, and what a SafeFile holds between its steps.

#include "SafeFile.h"
#include "SafeFilePlatform.h"

#include <QByteArray>

#include <cerrno>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace SafeFilePosix {

struct DescriptorTraits
{
    using Type = int;
    static int Invalid() { return -1; }
    static void Close(int fd) { ::close(fd); }
};
using Descriptor = SafeFilePlatform::UniqueHandle<DescriptorTraits>;

// A system call again for as long as a signal interrupts it.
template<typename Call>
auto Retried(Call &&call)
{
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

// The POSIX access ACL's extended attribute.
constexpr char AclName[] = "system.posix_acl_access";

// Fills error and returns false; with at, names the owner, group and mode of
// what is at fault.
bool Fail(SafeFile::Error *error, SafeFile::Step step, int code, const QString &path,
          SafeFile::Cause cause = SafeFile::Cause::System, const struct stat *at = nullptr);

// What the new file takes over from the one it replaces.
struct Kept
{
    bool exists = false;
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0644;
    QByteArray acl; // the POSIX access ACL as stored, empty when none
};

} // namespace SafeFilePosix

struct SafeFile::Held
{
    SafeFilePosix::Descriptor folder; // O_PATH descriptor of the folder that holds the file
    QByteArray name;
    SafeFilePosix::Kept old;
    bool tightened = false; // the old file let others write it
    SafeFilePosix::Descriptor lock;
};
