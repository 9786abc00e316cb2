#pragma once

// What the Windows half of SafeFile shares between its files: handles, the
// failures it reports, and what a SafeFile holds between its steps.

#include "SafeFile.h"
#include "SafeFilePlatform.h"
#include "WindowsAcl.h"

#include <QString>

#include <vector>

#include <windows.h>

// Not in every SDK's headers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

namespace SafeFileWindows {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What is opened to be looked at: the link itself, not what it points to,
// and folders as well as files.
constexpr DWORD AsItIs = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

struct HandleTraits
{
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
using Handle = SafeFilePlatform::UniqueHandle<HandleTraits>;

inline const wchar_t *Wide(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

Handle Open(const QString &path, DWORD access, DWORD share = ShareAll, DWORD flags = AsItIs);
bool NotThere(DWORD code);
bool Attributes(const Handle &handle, FILE_ATTRIBUTE_TAG_INFO *info);
QString Join(const QString &folder, const QString &name);
// The owner and DACL of what the handle holds open with READ_CONTROL.
bool ReadSecurity(const Handle &handle, QString *owner, WindowsAcl::Dacl *dacl);
// The user running the program, as a SID's string form.
QString Me();
// Fills error and returns false.
bool Fail(SafeFile::Error *error, SafeFile::Step step, DWORD code, const QString &path,
          SafeFile::Cause cause = SafeFile::Cause::System, const QString &owner = {});

} // namespace SafeFileWindows

struct SafeFile::Held
{
    // Every folder on the way that could be held: open without sharing the
    // right to delete, none of them can be renamed or swapped for a junction
    // until the save is done.
    std::vector<SafeFileWindows::Handle> folders;
    QString name;
    bool exists = false;
    SafeFileWindows::Handle lock;
};
