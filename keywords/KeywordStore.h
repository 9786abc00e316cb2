#pragma once

#include "KeywordMerge.h"
#include "Locations.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

class KeywordList;

// How long a save waits for another save of the same list to finish.
inline constexpr std::chrono::seconds SaveWait{5};

// What happened to one operation of the store. A failure's message is what
// the user reads: what was being done, the full path, and the system's
// reason, in Chinese.
struct StoreResult
{
    enum class Outcome { Done, Cancelled, Failed };
    Outcome outcome = Outcome::Done;
    QString message;

    bool Done() const { return outcome == Outcome::Done; }
    static StoreResult Failure(const QString &message) { return {Outcome::Failed, message}; }
};

// What a save answers when the working copy holds other keywords than when
// the store last saw it.
enum class OnChange { Merge, Overwrite, Cancel };
using ChangedQuestion = std::function<OnChange(const QString &path, const KeywordMerge::Changes &theirs)>;

// Told while another save holds the lock, every 50 ms, who holds it:
// "用户 alice（进程 1234）", or "另一位操作员" where the system does not tell.
// On false the save stops waiting and is cancelled, nothing written. Called
// on the thread that saves.
using WaitingNotice = std::function<bool(const QString &holder)>;

struct SaveResult : StoreResult
{
    // The keywords written, when they are not the ones given: the merge of
    // someone else's changes and the caller's.
    std::optional<QStringList> merged;
    // What the user should know of a save that went through: the filter's
    // folder lets others than those who may save write there.
    QString warning;
};

// The keyword file in its two copies at fixed locations: the working copy,
// which the store reads at start-up and rewrites at every save, and the
// published copy in the filter directory, which every save replaces with the
// very same bytes. It remembers the working copy as it last read or wrote
// it, so that a save never overwrites someone else's changes unasked.
class KeywordStore
{
public:
    explicit KeywordStore(const Locations &locations)
        : m_at(locations)
    {
    }

    const Locations &At() const { return m_at; }

    // Once per run, before the main window is shown: LoadWorkingCopy, then
    // EnsureFilterDirectory.
    StoreResult StartUp(KeywordList &list);
    // Appends the working copy's keywords, in file order, to the list. The
    // working copy must exist; it is never created here.
    StoreResult LoadWorkingCopy(KeywordList &list);
    // Creates the filter directory when nothing of that name exists. Anything
    // already there, even a plain file, is left alone.
    StoreResult EnsureFilterDirectory();

    // Writes the keywords to the working copy, then publishes the very same
    // bytes as the published copy. A list that the file could not hold
    // faithfully is refused before any file is touched. Each copy is replaced
    // in one step, so a failure leaves it as it was; the published copy is
    // never newer than the working copy.
    //
    // When someone else has changed the working copy's keywords since the
    // store last saw it, ask chooses (without ask, Merge); a merge writes, and
    // returns, both sides' changes. Cancel writes nothing. Saves of one list
    // take turns, each waiting at most SaveWait for the one before, which
    // waiting hears of. Every save, failed or not, leaves a line in the
    // system log.
    SaveResult SaveAndPublish(const QStringList &keywords, const ChangedQuestion &ask = {},
                              const WaitingNotice &waiting = {});

private:
    friend class Save;

    Locations m_at;
    // The working copy's bytes as last read or written; only bytes: keeping
    // its keywords would share the window's, and the first edit would then
    // copy every one of them (some 60 ms at a million).
    QByteArray m_seen;
};
