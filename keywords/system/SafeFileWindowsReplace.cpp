#include "SafeFileWindows.h"

#include <QStringList>

#include <vector>

#include <restartmanager.h>

using namespace SafeFilePlatform;
using namespace SafeFileWindows;

namespace {

// Whether a save with this process id may still be running. A process that
// cannot be opened for want of rights is someone else's, and lives.
bool Alive(DWORD processId)
{
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD status = 0;
    const bool running = ::GetExitCodeProcess(process, &status) && status == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

bool WriteWhole(const Handle &file, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(qMin<qsizetype>(bytes.size() - done, qsizetype(1) << 30));
        if (!::WriteFile(file.get(), bytes.constData() + done, chunk, &wrote, nullptr))
            return false;
        done += wrote;
    }
    return true;
}

// Gives the new file the target's name. ReplaceFileW gives it the old one's
// ACL, owner and attributes, so whoever reads the copy now (the web server's
// user) still can, and refuses rather than replace it with one it could not
// give them to. With a backup name it fails leaving both files as they were,
// and a reader that shares deleting may keep the old file open meanwhile.
DWORD TakeName(const QString &file, const QString &target, const QString &backup, bool targetExists)
{
    constexpr DWORD Move = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!targetExists)
        return ::MoveFileExW(Wide(file), Wide(target), Move) ? ERROR_SUCCESS : ::GetLastError();
    if (::ReplaceFileW(Wide(target), Wide(file), Wide(backup), 0, nullptr, nullptr)) {
        ::DeleteFileW(Wide(backup));
        return ERROR_SUCCESS;
    }
    const DWORD code = ::GetLastError();
    // The old file has gone meanwhile, or was moved to the backup name before
    // the new one could take its name: the new one still has to, or the old
    // one goes back.
    if ((code == ERROR_FILE_NOT_FOUND || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        && ::MoveFileExW(Wide(file), Wide(target), Move)) {
        ::DeleteFileW(Wide(backup));
        return ERROR_SUCCESS;
    }
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(Wide(backup), Wide(target), MOVEFILE_WRITE_THROUGH);
    return code;
}

// Whether the rename failed because someone holds the old or the new file
// open without sharing deletion, which lasts only as long as they do.
bool HeldOpen(DWORD code)
{
    return code == ERROR_SHARING_VIOLATION || code == ERROR_UNABLE_TO_REMOVE_REPLACED
        || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// The programs that hold the files open, as the Restart Manager tells them:
// "notepad.exe（进程 1234）"; empty where it cannot tell.
QString Holders(const QStringList &paths)
{
    DWORD session = 0;
    wchar_t key[CCH_RM_SESSION_KEY + 1] = {};
    if (::RmStartSession(&session, 0, key) != ERROR_SUCCESS)
        return {};
    std::vector<const wchar_t *> files;
    for (const QString &path : paths)
        files.push_back(Wide(path));
    QStringList holders;
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    std::vector<RM_PROCESS_INFO> found;
    if (::RmRegisterResources(session, UINT(files.size()), files.data(), 0, nullptr, 0, nullptr) == ERROR_SUCCESS
        && ::RmGetList(session, &needed, &count, nullptr, &reasons) == ERROR_MORE_DATA) {
        found.resize(needed);
        count = needed;
        if (::RmGetList(session, &needed, &count, found.data(), &reasons) == ERROR_SUCCESS)
            for (UINT i = 0; i < count; ++i)
                holders << QStringLiteral("%1（进程 %2）")
                                   .arg(QString::fromWCharArray(found[i].strAppName),
                                        QString::number(found[i].Process.dwProcessId));
    }
    ::RmEndSession(session);
    return holders.join(u'、');
}

} // namespace

bool SafeFile::Inspect(Error *error)
{
    m_held->exists = false;
    const Handle old = Open(Join(m_folderPath, m_held->name), FILE_READ_ATTRIBUTES);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!Attributes(old, &info)) {
        const DWORD code = ::GetLastError();
        return NotThere(code) || Fail(error, Step::Inspect, code, m_path);
    }
    // A link that appeared since the path was reached is replaced, not followed.
    if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return true;
    if (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Fail(error, Step::Inspect, ERROR_DIRECTORY_NOT_SUPPORTED, m_path);
    m_held->exists = true;
    return true;
}

// ReplaceFileW carries the old file's ACL over as it is.
bool SafeFile::Tightened() const
{
    return false;
}

bool SafeFile::Replace(const QByteArray &bytes, Error *error, const std::function<bool()> &unchanged,
                       std::chrono::milliseconds wait)
{
    RemoveLeftovers();
    const QString target = Join(m_folderPath, m_held->name);
    const QString temporary = Join(m_folderPath, LeftoverName(m_held->name, ::GetCurrentProcessId(), false));
    const QString backup = Join(m_folderPath, LeftoverName(m_held->name, ::GetCurrentProcessId(), true));
    Handle file(::CreateFileW(Wide(temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok())
        return Fail(error, Step::Create, ::GetLastError(), m_folderPath);
    auto abandon = [&](Step step, DWORD code) {
        file.reset();
        ::DeleteFileW(Wide(temporary));
        return Fail(error, step, code, m_path);
    };

    if (!WriteWhole(file, bytes) || !::FlushFileBuffers(file.get()))
        return abandon(Step::Write, ::GetLastError());
    file.reset();
    if (unchanged && !unchanged()) {
        ::DeleteFileW(Wide(temporary));
        return Fail(error, Step::Rename, 0, m_path, Cause::Changed);
    }
    DWORD code = ERROR_SUCCESS;
    const Attempt renamed = TakeWithin(
            wait,
            [&] {
                code = TakeName(temporary, target, backup, m_held->exists);
                return code == ERROR_SUCCESS ? Attempt::Taken : HeldOpen(code) ? Attempt::Busy : Attempt::Failed;
            },
            [] { return true; });
    if (renamed == Attempt::Taken)
        return true;
    // Asked before the new file goes: who holds either.
    const QString holders = renamed == Attempt::Busy ? Holders({target, temporary}) : QString();
    abandon(Step::Rename, code);
    error->owner = holders;
    error->number = wait.count() / 1000;
    return false;
}

// A save killed midway leaves its new file behind under a name that holds its
// process id; once that process is gone, nobody will finish it.
void SafeFile::RemoveLeftovers() const
{
    WIN32_FIND_DATAW found;
    const HANDLE search =
            ::FindFirstFileW(Wide(Join(m_folderPath, u'.' + m_held->name + QStringLiteral(".*.tmp"))), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        // The pattern also matches short names and ignores case.
        const QString name = QString::fromWCharArray(found.cFileName);
        const DWORD processId = DWORD(LeftoverProcess(name, m_held->name));
        if (processId != 0 && (processId == ::GetCurrentProcessId() || !Alive(processId)))
            ::DeleteFileW(Wide(Join(m_folderPath, name)));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}
