#include "DefaultKeywords.h"
#include "Form1.h"
#include "KeywordDelegate.h"
#include "MessageBox.h"
#include "SaveRecord.h"
#include "TestFiles.h"
#include "TestWindow.h"

#include <QtTest>
#include <QtWidgets>

static const QString RestoreTitle = "Vantrel通用防注入过滤器恢复默认设置", RestoreText = "你是否要恢复系统的默认设置?",
                     SaveText = "你是否要保存系统设置?";

class TestForm1 : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_window;

    bool start(const QStringList &keywords)
    {
        // A file may hold what the program will not write, a NUL: such lists are plain ASCII here.
        const bool written = WriteKeywords(working(), keywords)
                             || WriteAll(working(), (keywords.join("\r\n") + "\r\n").toLatin1());
        if (!written || !(m_window = StartWindow(m_dir.path())))
            return false;
        m_window->show();
        m_window->activateWindow();
        return QTest::qWaitForWindowActive(m_window.get());
    }
    QString working() const { return Locations::InRoot(m_dir.path()).workingCopy; }
    QAbstractItemView *view() const { return m_window->findChild<QAbstractItemView *>("ListView1"); }
    QLineEdit *typed() const { return m_window->AddDialog() ? m_window->AddDialog()->findChild<QLineEdit *>() : nullptr; }

    // Does the steps in turn and tells the first that could not be done or did not hold:
    // "pick ROW", "click BUTTON" (of the main window), "keys KEYS" (in the list), "answer N…" (the
    // next boxes' answers), "add TEXT" (typed into the dialog, then OK), "edit ROW TEXT" (TEXT added
    // at the end in place), "theirs K…" (another save writes the working copy); and the checks
    // "dialog TEXT" (in the add dialog), "picked ROW" (selected and current), "inSight ROW",
    // "columnEndInSight", "rowTall ROW" (as a line of text), "dialogs N" (add dialogs open) and "saved K…"
    // (the working copy holds them).
    bool play(const QStringList &steps, QString *failed)
    {
        for (const QString &step : steps) {
            *failed = step;
            const QString verb = step.section(' ', 0, 0), text = step.section(' ', 1), last = step.section(' ', 2);
            const QModelIndex row = view()->model()->index(text.section(' ', 0, 0).toInt(), 0);
            const QRect rect = view()->visualRect(row);
            bool done = true;
            if (verb == "pick") view()->setCurrentIndex(row);
            else if (verb == "click") m_window->findChild<QPushButton *>(text)->click();
            else if (verb == "keys") view()->setFocus(), QTest::keySequence(view(), QKeySequence(text));
            else if (verb == "answer") {
                QList<int> answers;
                for (const QString &answer : text.split(' '))
                    answers << answer.toInt();
                MessageBox::SetNextAnswers(answers);
            } else if (verb == "add") {
                m_window->findChild<QPushButton *>("Command1")->click();
                if ((done = typed()))
                    typed()->setText(text), m_window->AddDialog()->findChild<QPushButton *>("Command1")->click();
            }
            else if (verb == "theirs") done = WriteKeywords(working(), text.split(' '));
            else if (verb == "dialog") done = typed() && typed()->text() == text;
            else if (verb == "picked") done = (view()->selectionModel()->selectedRows() << view()->currentIndex()) == QModelIndexList(2, row);
            else if (verb == "inSight") done = rect.top() >= 0 && rect.bottom() < view()->viewport()->height();
            else if (verb == "columnEndInSight") done = rect.right() < view()->viewport()->width();
            else if (verb == "rowTall") done = rect.height() == view()->sizeHintForRow(row.row());
            else if (verb == "dialogs")
                done = std::ranges::count_if(QApplication::topLevelWidgets(), [](QWidget *w) { return qobject_cast<add *>(w); }) == text.toInt();
            else if (verb == "saved") done = ReadAll(working()) == KeywordFile::Encode(text.split(' ')).bytes;
            else if (verb == "edit") {
                view()->setCurrentIndex(row);
                QTest::keyClick(view(), Qt::Key_F2);
                auto *editor = view()->findChild<QLineEdit *>();
                if ((done = editor))
                    editor->setText(editor->text() + last), QTest::keyClick(editor, Qt::Key_Return);
            } else done = false;
            // An edit is taken, then refused, then its editor goes, each a turn of the event loop later.
            for (int turn = 0; turn < 3; ++turn)
                QCoreApplication::processEvents(), QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (!done)
                return false;
        }
        return true;
    }

    static void row(const char *name, const QStringList &before, const QStringList &steps, const QStringList &after,
                    const QStringList &boxes = {})
    {
        QTest::newRow(name) << before << steps << after << boxes;
    }

private slots:
    void initTestCase() { SaveRecord::SetDestination(QString()); }
    void init() { MessageBox::SetNextAnswers({}); }
    void cleanup() { m_window.reset(), qDeleteAll(QApplication::topLevelWidgets()), MessageBox::TakeShown(); }

    void userActions_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("boxes"); // title, text, …
        const QString nul = QStringLiteral("a\0b"), shown(KeywordDelegate::ShownLength + 1, 'x'),
                      lineEdit(QLineEdit().maxLength() + 1, 'x');
        const QStringList forty(40, "k"), mine{"mine"};
        row("Delete: the picked one of two alike", {"a", "b", "b"}, {"pick 2", "click Command2"}, {"a", "b"});
        row("Delete: nothing picked", {"a", "b"}, {"click Command2"}, {"a", "b"});
        row("Alt+D", {"a", "b", "b"}, {"pick 1", "keys Alt+D"}, {"a", "b"});
        row("the Delete key in the list", {"a", "b", "b"}, {"pick 0", "keys Del"}, {"b", "b"});
        row("Home: the first row", forty, {"pick 20", "keys Home", "picked 0"}, forty);
        row("End: the last row", forty, {"pick 5", "keys End", "picked 39"}, forty);
        row("Rows as tall as a line of text", {"select", "union"}, {"rowTall 1"}, {"select", "union"});
        row("Right: scrolls sideways", forty, {"pick 5", "keys Right", "picked 5", "columnEndInSight"}, forty);
        row("No to Restore", {"a"}, {"answer 1", "click Command4"}, {"a"}, {RestoreTitle, RestoreText});
        row("No to Save", {"a"}, {"answer 1", "click Command5", "saved a"}, {"a"}, {Form1::Caption(), SaveText});
        row("Add after Restore, the dialog open", {"a"}, {"click Command1", "answer 0", "click Command4", "add new"},
            DefaultKeywords() << "new", {RestoreTitle, RestoreText});
        row("Add: spaces kept", {"a"}, {"add  你好 "}, {"a", " 你好 "});
        row("Add: empty", {"a"}, {"add "}, {"a", ""});
        row("Add: one already there", {"a"}, {"add a"}, {"a", "a"});
        row("Add: longer than a line edit takes", {"a"}, {"add " + lineEdit + "末"}, {"a", lineEdit + "末"});
        row("Add: the new row in sight, the picked row kept", forty, {"pick 2", "add new", "inSight 40", "picked 2"},
            forty + QStringList{"new"});
        row("Add twice: one dialog", {"a"}, {"click Command1", "click Command1", "dialogs 1"}, {"a"});
        row("Add: each opening empty", {"a"}, {"add typed", "click Command1", "dialog "}, {"a", "typed"});
        for (const auto &[what, text, refusal] : {std::tuple{"a line break", QString("a\nb"), "关键字不能包含换行符。"},
                                                  {"a NUL", nul, "关键字不能包含空字符（NUL）。"},
                                                  {"outside GBK", QStringLiteral("a😀"), "关键字含有无法保存的字符。"}}) {
            row(qPrintable(QString("Add refuses ") + what), mine, {"add " + text, "dialog " + text}, mine, {add::Caption(), refusal});
            row(qPrintable(QString("Edit refuses ") + what), mine, {"edit 0 " + text}, mine, {Form1::Caption(), refusal});
        }
        row("Edit: longer than the list shows, unchanged", {shown}, {"edit 0 "}, {shown});
        row("Edit: longer than a line edit takes", {lineEdit}, {"edit 0 y"}, {lineEdit + "y"});
        row("Edit: a NUL from the file, unchanged", {nul}, {"edit 0 "}, {nul});
        const QString changed = Form1::ChangedPrompt(working(), {{"theirs"}, {}});
        for (const auto &[answer, after, saved] : {std::tuple{"0", "old theirs mine", "old theirs mine"},
                                                   {"1", "old mine", "old mine"}, {"2", "old mine", "old theirs"}})
            row(qPrintable(QString("Save after another save, answer ") + answer), {"old"},
                {"theirs old theirs", "add mine", QString("answer 0 ") + answer, "click Command5", QString("saved ") + saved},
                QString(after).split(' '), {Form1::Caption(), SaveText, Form1::Caption(), changed});
    }

    void userActions()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, after);
        QFETCH(QStringList, boxes);
        QVERIFY(start(before));
        QString failed;
        QVERIFY2(play(steps, &failed), qPrintable(failed.left(80)));
        QTRY_COMPARE(m_window->Keywords().Texts(), after); // an access key presses its button a moment later
        QStringList shown;
        for (const auto &[title, text] : MessageBox::TakeShown())
            shown << title << text;
        QCOMPARE(shown, boxes);
    }

    void questionsShowNoIcon_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Restore") << "Command4";
        QTest::newRow("Save") << "Command5";
    }

    void questionsShowNoIcon()
    {
        QFETCH(QString, button);
        QVERIFY(start({"a"}));
        MessageBox::ShowBoxes();
        QStringList decorated{"no box was shown"};
        QTimer::singleShot(0, [&decorated] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                decorated.clear();
                if (box->icon() != QMessageBox::NoIcon || !box->iconPixmap().isNull())
                    decorated << "the box";
                for (const QAbstractButton *answer : box->buttons())
                    if (!answer->icon().isNull())
                        decorated << answer->text();
                box->reject();
            }
        });
        m_window->findChild<QPushButton *>(button)->click();
        QVERIFY2(decorated.isEmpty(), qPrintable("with an icon: " + decorated.join(", ")));
    }

    // Laying out a huge keyword at every repaint takes seconds.
    void longKeywordsShownShortened()
    {
        const QString shown = KeywordDelegate().displayText(QString(KeywordDelegate::ShownLength + 1, 'x'), {});
        QCOMPARE(shown, QString(KeywordDelegate::ShownLength, 'x') + u'…');
    }

    void changedQuestionNamesTheirEdits()
    {
        const QString text = Form1::ChangedPrompt("/w/inject.txt", {{"theirs"}, {"a", "b", "c", "d"}});
        QVERIFY2(text.startsWith("工作副本 /w/inject.txt ")
                     && text.contains("新增了 1 个关键字（“theirs”），删除了 4 个（“a”、“b”、“c”等）。"),
                 qPrintable(text));
    }

    void addDialogPlacedBeside_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QPoint>("place");
        const QRect wide(0, 0, 800, 600), small(0, 0, 420, 300);
        QTest::newRow("right") << wide << QRect(0, 0, 420, 300) << QPoint(428, 0);
        QTest::newRow("left: no room on the right") << wide << QRect(380, 0, 420, 300) << QPoint(82, 0);
        QTest::newRow("below: no room on either side") << wide << QRect(190, 0, 420, 300) << QPoint(190, 308);
        QTest::newRow("above: no room below") << wide << QRect(190, 300, 420, 300) << QPoint(190, 192);
        QTest::newRow("over the list: the window fills the screen") << small << small << QPoint(0, 0);
    }

    void addDialogPlacedBeside()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, window);
        QFETCH(QPoint, place);
        const QRect buttons(window.topLeft() + QPoint(320, 30), QSize(80, 180));
        QCOMPARE(Form1::PlaceBeside(window, buttons, QSize(290, 100), screen, 8), place);
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
