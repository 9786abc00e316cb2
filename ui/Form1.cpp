#include "Form1.h"

#include "BackgroundSave.h"
#include "DefaultKeywords.h"
#include "KeywordDelegate.h"
#include "KeywordDisplay.h"
#include "KeywordRefusal.h"
#include "KeywordView.h"
#include "MessageBoxes.h"
#include "Twips.h"
#include "add.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>

#include <cstdio>

namespace {

// The cursor over every window of the program, until what this returns goes.
auto CursorWhile(Qt::CursorShape shape)
{
    QGuiApplication::setOverrideCursor(shape);
    return qScopeGuard(&QGuiApplication::restoreOverrideCursor);
}

// Each window as what it is: a plain widget reads as a mere filler.
QAccessibleInterface *WindowRole(const QString &className, QObject *object)
{
    if (className == QLatin1String("Form1"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    if (className == QLatin1String("add"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Dialog);
    return nullptr;
}

} // namespace

std::unique_ptr<Form1> Form1::Start(const Locations &locations)
{
    static const bool roles = (QAccessible::installFactory(WindowRole), true);
    Q_UNUSED(roles);
    std::unique_ptr<Form1> window(new Form1(locations));
    const StoreResult started = window->m_store.StartUp(window->m_keywords);
    if (!started.Done()) {
        window->Report(started.message);
        return nullptr;
    }
    return window;
}

QString Form1::Caption()
{
    return QStringLiteral("Vantrel 通用防注入过滤器");
}

Form1::Form1(const Locations &locations)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint)
    , Frame1(new QGroupBox(QStringLiteral("过滤字符"), this))
    , ListView1(new KeywordView(Frame1))
    , Command1(new QPushButton(QStringLiteral("添加(A)"), this))
    , Command2(new QPushButton(QStringLiteral("删除(&D)"), this))
    , Command4(new QPushButton(QStringLiteral("恢复默认"), this))
    , Command5(new QPushButton(QStringLiteral("确定(O)"), this))
    , m_store(locations)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption());
    Twips::FixClientSize(this, 6195, 4050);

    Frame1->setObjectName(QStringLiteral("Frame1"));
    ListView1->setObjectName(QStringLiteral("ListView1"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2->setObjectName(QStringLiteral("Command2"));
    Command4->setObjectName(QStringLiteral("Command4"));
    Command5->setObjectName(QStringLiteral("Command5"));

    Frame1->setGeometry(Twips::Rect(this, 120, 240, 4575, 3615));
    ListView1->setGeometry(Twips::Rect(this, 120, 240, 4335, 3135));
    Command1->setGeometry(Twips::Rect(this, 4800, 360, 1215, 615));
    Command2->setGeometry(Twips::Rect(this, 4800, 1080, 1215, 615));
    Command4->setGeometry(Twips::Rect(this, 4800, 1800, 1215, 615));
    Command5->setGeometry(Twips::Rect(this, 4800, 2520, 1215, 615));

    const QString heading = QStringLiteral("过滤URL关键字列表");
    m_keywords.setHeaderData(0, Qt::Horizontal, heading);
    ListView1->setModel(&m_keywords);
    ListView1->setAccessibleName(heading);
    ListView1->horizontalHeader()->resizeSection(0, Twips::Width(this, 4440));
    auto *delegate = new KeywordDelegate(ListView1);
    ListView1->setItemDelegate(delegate);
    connect(
            delegate, &KeywordDelegate::Refused, this,
            [this](const QString &why) { MessageBoxes::Error(this, Caption(), why); }, Qt::QueuedConnection);
    // Not while a row is being edited: the editor has the focus then.
    new QShortcut(QKeySequence::Delete, ListView1, this, &Form1::Command2_Click, Qt::WidgetShortcut);

    Frame1->setFocusPolicy(Qt::NoFocus);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command4);
    setTabOrder(Command4, Command5);
    setTabOrder(Command5, ListView1);
    Command1->setFocus();

    // Enter presses a focused button, as on the desktop this tool comes from.
    for (QPushButton *button : {Command1, Command2, Command4, Command5})
        button->setAutoDefault(true);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
}

void Form1::Report(const QString &error)
{
    std::fprintf(stderr, "%s\n", error.toUtf8().constData());
    // At start-up there is no window yet to stand over.
    MessageBoxes::Error(isVisible() ? this : nullptr, Caption(), error);
}

void Form1::Command1_Click()
{
    if (!m_add) {
        // The list takes a keyword at its end.
        m_add = new add([list = QPointer<KeywordList>(&m_keywords)](const QString &keyword) {
            return list ? KeywordRefusal(keyword, list->Count() + 1) : QString();
        });
        m_add->setWindowIcon(windowIcon());
        m_add->move(AddDialogPlace(m_add->size()));
        connect(m_add, &add::KeywordEntered, this, [this](const QString &keyword) {
            // Once the main window is closed, its list is gone for the user.
            if (!isVisible())
                return;
            m_keywords.Append(keyword);
            ListView1->scrollTo(m_keywords.index(int(m_keywords.Count() - 1)));
        });
    }
    m_add->show();
    m_add->raise();
    m_add->activateWindow();
}

QPoint Form1::AddDialogPlace(const QSize &size) const
{
    // The dialog has no frame before it is first shown; it gets one like ours.
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const QSize framed = size.grownBy(QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                               outer.right() - inner.right(), outer.bottom() - inner.bottom()));
    QRect buttons;
    for (const QPushButton *button : {Command1, Command2, Command4, Command5})
        buttons |= QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
    return PlaceBeside(outer, buttons, framed, screen()->availableGeometry(), Twips::Width(this, 120));
}

QPoint Form1::PlaceBeside(const QRect &window, const QRect &avoid, const QSize &size, const QRect &screen, int gap)
{
    const QPoint places[] = {
            {window.right() + 1 + gap, window.top()},
            {window.left() - gap - size.width(), window.top()},
            {window.left(), window.bottom() + 1 + gap},
            {window.left(), window.top() - gap - size.height()},
    };
    const auto onScreen = [&](const QPoint &place) {
        return QRect(QPoint(qBound(screen.left(), place.x(), screen.right() + 1 - size.width()),
                            qBound(screen.top(), place.y(), screen.bottom() + 1 - size.height())),
                     size);
    };
    for (const QRect &covered : {window, avoid})
        for (const QPoint &place : places)
            if (!onScreen(place).intersects(covered))
                return onScreen(place).topLeft();
    // A screen too small for any of them.
    return onScreen(places[0]).topLeft();
}

void Form1::Command2_Click()
{
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const qsizetype position = selected.first().row() + 1;
    if (position > 0)
        m_keywords.RemoveAt(position);
    // The view would select the next row; a second click must not delete a
    // row the user never picked.
    ListView1->selectionModel()->clearSelection();
}

void Form1::Command4_Click()
{
    if (MessageBoxes::Question(this, QStringLiteral("Vantrel通用防注入过滤器恢复默认设置"),
                               QStringLiteral("你是否要恢复系统的默认设置?")))
        RestoreDefaults(m_keywords);
}

void Form1::Command5_Click()
{
    if (!MessageBoxes::Question(this, Caption(), QStringLiteral("你是否要保存系统设置?")))
        return;
    // A failed save keeps the window and every unsaved edit, so the user can
    // fix the cause and save again.
    SaveResult saved;
    {
        // The window answers while the save waits for another operator's,
        // but takes no input.
        const auto waiting = CursorWhile(Qt::WaitCursor);
        m_saving = true;
        saved = BackgroundSave(this).Run(m_store, m_keywords.Texts(),
                                         [this](const QString &path, const KeywordMerge::Changes &theirs) {
                                             return AskAboutTheirChanges(path, theirs);
                                         });
        m_saving = false;
        if (saved.merged) {
            m_keywords.Clear();
            m_keywords.AppendAll(std::move(*saved.merged));
        }
    }
    // A save that went through says nothing, unless others may write where
    // the filter reads.
    if (saved.outcome == StoreResult::Outcome::Failed)
        Report(saved.warning.isEmpty() ? saved.message : saved.message + QStringLiteral("\n\n") + saved.warning);
    else if (!saved.warning.isEmpty())
        MessageBoxes::Warning(this, Caption(), saved.warning);
    if (std::exchange(m_closeWhenSaved, false) && saved.Done())
        close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Closed while saving, the window goes once the list is saved; a save
    // that fails or is cancelled keeps it open, with the edits.
    if (m_saving) {
        m_closeWhenSaved = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

OnChange Form1::AskAboutTheirChanges(const QString &path, const KeywordMerge::Changes &theirs)
{
    using Answer = MessageBoxes::Answer;
    const auto normal = CursorWhile(Qt::ArrowCursor); // not the wait cursor over a question
    switch (MessageBoxes::Choice(this, Caption(), ChangedPrompt(path, theirs),
                                 {{Answer::Merge, QStringLiteral("合并(&M)")},
                                  {Answer::Overwrite, QStringLiteral("覆盖(&O)")},
                                  {Answer::Cancel, QStringLiteral("取消")}})) {
    case Answer::Merge:
        return OnChange::Merge;
    case Answer::Overwrite:
        return OnChange::Overwrite;
    default:
        return OnChange::Cancel;
    }
}

QString Form1::ChangedPrompt(const QString &path, const KeywordMerge::Changes &theirs)
{
    const auto some = [](const QStringList &keywords) {
        constexpr qsizetype Listed = 3, Length = 20;
        QStringList quoted;
        for (const QString &keyword : keywords.first(qMin(Listed, keywords.size())))
            quoted << KeywordDisplay::Quoted(keyword, Length);
        return keywords.isEmpty()
                     ? QString()
                     : QStringLiteral("（%1%2）")
                               .arg(quoted.join(u'、'), keywords.size() > Listed ? QStringLiteral("等") : QString());
    };
    return QStringLiteral("工作副本 %1 在你打开之后被改动过（例如另一位操作员保存了它）：那里新增了 %2 "
                          "个关键字%3，删除了 %4 个%5。\n\n"
                          "合并：保留那里的改动，再加上你的改动，你新增的关键字排在最后。\n"
                          "覆盖：只保存你的列表，那里的改动会丢失。\n"
                          "取消：现在不保存，你的修改留在窗口中。")
            .arg(path, QString::number(theirs.added.size()), some(theirs.added), QString::number(theirs.removed.size()),
                 some(theirs.removed));
}
