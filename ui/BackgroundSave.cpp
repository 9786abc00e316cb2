#include "BackgroundSave.h"

#include "MessageBoxes.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>

#include <chrono>
#include <utility>

using namespace std::chrono_literals;

namespace {

// How long a save waits for another before the note tells of it: a save
// that finds the lock free never shows it.
constexpr auto NoteAfter = 500ms;
// How long after the last word of the wait (one every 50 ms) the save is
// taken to have moved on, with the lock or without.
constexpr auto WaitOver = 200ms;

QString WaitText(const QString &holder)
{
    return QStringLiteral("正在等待%1完成保存…\n\n最多等待 %2 秒。按“取消”不再等待，什么都不保存，你的修改仍在窗口中。")
            .arg(holder, QString::number(SaveWait.count()));
}

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

} // namespace

BackgroundSave::BackgroundSave(QWidget *window)
    : m_window(window)
{
    m_waitOver.setSingleShot(true);
    m_waitOver.setInterval(WaitOver);
    connect(&m_waitOver, &QTimer::timeout, this, [this] { ShowNote(false); });
}

BackgroundSave::~BackgroundSave() = default;

SaveResult BackgroundSave::Run(KeywordStore &store, QStringList keywords, const ChangedQuestion &ask)
{
    // The saving thread waits for the answer; this one asks, its windows
    // painted meanwhile.
    const ChangedQuestion askHere = [this, &ask](const QString &path, const KeywordMerge::Changes &theirs) {
        OnChange answer = OnChange::Cancel;
        const auto asking = [&] {
            ShowNote(false);
            answer = ask(path, theirs);
        };
        QMetaObject::invokeMethod(this, asking, Qt::BlockingQueuedConnection);
        return answer;
    };
    const WaitingNotice waiting = [this](const QString &holder) {
        QMetaObject::invokeMethod(
                this, [this, holder] { Waiting(holder); }, Qt::QueuedConnection);
        return !m_cancelled;
    };
    SaveResult result;
    const std::unique_ptr<QThread> saving(QThread::create(
            [&] { result = store.SaveAndPublish(keywords, ask ? askHere : ChangedQuestion(), waiting); }));
    QEventLoop loop;
    connect(saving.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);

    m_blocked = QApplication::topLevelWidgets();
    qApp->installEventFilter(this);
    saving->start();
    loop.exec();
    // The program's quitting ends every event loop at once; the save, and
    // any question it asks meanwhile, still end before this returns.
    while (!saving->wait(QDeadlineTimer(10)))
        QCoreApplication::processEvents();
    qApp->removeEventFilter(this);
    ShowNote(false);
    return result;
}

void BackgroundSave::Waiting(const QString &holder)
{
    if (m_cancelled)
        return;
    if (!m_waiting.isValid())
        m_waiting.start();
    m_waitOver.start();
    if (!m_note) {
        if (std::chrono::milliseconds(m_waiting.elapsed()) < NoteAfter)
            return;
        m_note =
                MessageBoxes::Note(m_window, m_window->windowTitle(), WaitText(holder), QStringLiteral("取消"), [this] {
                    m_cancelled = true;
                    ShowNote(false);
                });
    } else if (const QString text = WaitText(holder); m_note->text() != text) {
        m_note->setText(text);
    }
    ShowNote(true);
}

// Up only while the save waits for another, not while it asks or writes.
void BackgroundSave::ShowNote(bool shown)
{
    if (!m_note || shown == m_noteUp)
        return;
    m_note->setVisible(shown);
    // Not the wait cursor over a button that can be pressed.
    if (shown)
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    else
        QGuiApplication::restoreOverrideCursor();
    m_noteUp = shown;
}

bool BackgroundSave::eventFilter(QObject *watched, QEvent *event)
{
    if (!IsInput(event->type()))
        return false;
    // A shortcut's owner is an object of the widget it belongs to.
    QObject *target = watched;
    while (target && !target->isWidgetType())
        target = target->parent();
    return target && m_blocked.contains(static_cast<QWidget *>(target)->window());
}
