#pragma once

// What SafeFile.cpp shares with the system halves, SafeFilePosix.cpp and
// SafeFileWindows.cpp, and what each half gives the sentences of Explain.

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <utility>

namespace SafeFilePlatform {

// A system handle, closed once when it goes. Traits gives its type, the
// value that holds nothing, and how to close it.
template<typename Traits>
class UniqueHandle
{
public:
    using Type = typename Traits::Type;

    explicit UniqueHandle(Type handle = Traits::Invalid())
        : m_handle(handle)
    {
    }
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle &&other) noexcept
        : m_handle(other.release())
    {
    }
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;

    Type get() const { return m_handle; }
    bool ok() const { return m_handle != Traits::Invalid(); }
    Type release() { return std::exchange(m_handle, Traits::Invalid()); }
    void reset(Type handle = Traits::Invalid())
    {
        if (ok())
            Traits::Close(m_handle);
        m_handle = handle;
    }

private:
    Type m_handle;
};

// The parts of a path still to walk, the next one last. A link that is
// followed puts its target's parts in front; the walk gives up where the
// kernel would.
template<typename Text>
class Way
{
public:
    void Push(const Text &path, typename Text::value_type separator)
    {
        const QList<Text> parts = path.split(separator);
        for (auto part = parts.crbegin(); part != parts.crend(); ++part)
            if (!part->isEmpty() && *part != ".")
                m_pending.append(*part);
    }
    bool Done() const { return m_pending.isEmpty(); }
    Text Next() { return m_pending.takeLast(); }
    // False once more links than the kernel follows in one lookup have been taken.
    bool TakeLink() { return ++m_links <= 40; }

private:
    QList<Text> m_pending;
    int m_links = 0;
};

// Reads to the end of a file through readSome(buffer, room), which gives the
// bytes read, 0 at the end, or -1 on failure. expectedSize, as the system
// reported it, saves growing the buffer; a file larger than SafeFile::MaxSize
// is not read, or not read further.
enum class Reading { Done, Failed, TooLarge };
Reading ReadWhole(qint64 expectedSize, const std::function<qint64(char *, qint64)> &readSome, QByteArray *bytes);

// A save's new file, ".NAME.PID.tmp", and on Windows the old one while the
// new one takes its name, ".NAME.PID.old.tmp": what a killed save leaves
// behind goes by the process id in the name.
QString LeftoverName(const QString &name, qint64 processId, bool old = false);
// The process id in the name of a leftover of the file called name; 0 for
// any other name.
qint64 LeftoverProcess(QStringView entry, QStringView name);

// Tries to take a lock every 50 ms until take gives something other than
// Busy, or wait has passed, or keepWaiting, asked after each Busy, says no
// (GaveUp).
enum class Attempt { Taken, Busy, Failed, Unguarded, GaveUp };
Attempt TakeWithin(std::chrono::milliseconds wait, const std::function<Attempt()> &take,
                   const std::function<bool()> &keepWaiting);

// The lock file of the file called name, beside it.
QString LockName(const QString &name);

// What a system error code means to the sentences of SafeFile::Explain.
enum class Failure { Other, NotThere, NotAFolder, AFolder, Denied, ReadOnly, MountedAlone, HeldOpen };
Failure Classify(int code);

// The user running the program, by name.
QString CurrentUserName();

// The words of Explain's sentences that differ between the systems.
struct Words
{
    QString links;         // the kinds of link followed
    QString trustedOwners; // whose links are followed, besides the user's own
    QString addToGroup;    // the command that makes %2 a member of %1
    QString makesFolders;  // who creates the fixed folders, after a reason
    QString copy;          // the command that copies %1 to %2
};
const Words &PlatformWords();

} // namespace SafeFilePlatform
