#pragma once

#include "KeywordStore.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QWidgetList>

#include <atomic>
#include <memory>

class QMessageBox;

// One save of the keyword store on a thread of its own, so that the windows
// keep painting and answering the system while the save waits for another
// operator's or writes a long list. To its caller it is one call that
// returns when the save has ended, and meanwhile no input reaches the windows
// that were open when it began: a click there could change the list being
// saved. The question about someone else's changes is asked on this thread.
// Once the save has waited half a second for another save, a note says whose
// until the wait is over, and its 取消 ends the wait with nothing written.
class BackgroundSave : public QObject
{
    Q_OBJECT

public:
    // The note goes over window, with its title.
    explicit BackgroundSave(QWidget *window);
    ~BackgroundSave() override;

    SaveResult Run(KeywordStore &store, QStringList keywords, const ChangedQuestion &ask);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Waiting(const QString &holder);
    void ShowNote(bool shown);

    QWidget *m_window;
    QWidgetList m_blocked;
    std::atomic_bool m_cancelled = false;
    QElapsedTimer m_waiting;
    QTimer m_waitOver;
    std::unique_ptr<QMessageBox> m_note;
    bool m_noteUp = false;
};
