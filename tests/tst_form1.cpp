#include "BackgroundSave.h"
#include "DefaultKeywords.h"
#include "Form1.h"
#include "KeywordDelegate.h"
#include "MessageBoxes.h"
#include "SaveRecord.h"
#include "TestFiles.h"
#include "TestWindow.h"
#include "Twips.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>

using Texts = QStringList;
using Steps = std::function<void()>;
using Boxes = QList<MessageBoxes::Shown>; // title and text of each
Q_DECLARE_METATYPE(Steps)

static const QString RestoreTitle = "Vantrel通用防注入过滤器恢复默认设置", RestoreText = "你是否要恢复系统的默认设置?",
                     SaveText = "你是否要保存系统设置?", Yes = "是(&Y)";

class TestForm1 : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_window;
    int m_paints = 0; // of the main window
    // A box shown for real: its text, that text as its label shows it, and whether it had pictures or the wait cursor.
    struct Seen
    {
        QString text, shown;
        bool decorated, waiting;
    };
    QList<Seen> m_seen;

    bool Start(const Texts &keywords)
    {
        // A file may hold what the program will not write, a NUL: such lists are plain ASCII here.
        if (!WriteKeywords(Working(), keywords) && !WriteAll(Working(), (keywords.join("\r\n") + "\r\n").toLatin1()))
            return false;
        m_window = StartWindow(m_dir.path());
        if (!m_window)
            return false;
        m_window->show();
        m_window->activateWindow();
        return QTest::qWaitForWindowActive(m_window.get());
    }
    QString Working() const { return Locations::InRoot(m_dir.path()).workingCopy; }
    QAbstractItemView *View() const { return m_window->findChild<QAbstractItemView *>("ListView1"); }
    QModelIndex Row(int row) const { return View()->model()->index(row, 0); }
    QLineEdit *Typed() const
    {
        return m_window->AddDialog() ? m_window->AddDialog()->findChild<QLineEdit *>() : nullptr;
    }
    QString DialogText() const { return Typed() ? Typed()->text() : "(no add dialog)"; }
    Texts Keywords() const { return m_window->Keywords().Texts(); }
    static void SetPoints(qreal points)
    {
        QFont font = QApplication::font();
        font.setPointSizeF(points);
        QApplication::setFont(font);
    }
    static bool Waiting()
    {
        return QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
    }

    bool eventFilter(QObject *, QEvent *event) override { return m_paints += event->type() == QEvent::Paint, false; }

    // The steps of a user, and checks between them.
    // An edit is taken, then refused, then its editor goes, each a turn of the event loop later.
    static void Settle()
    {
        for (int turn = 0; turn < 3; ++turn) {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    void Click(const char *button)
    {
        m_window->findChild<QPushButton *>(button)->click();
        Settle();
    }
    void Pick(int row) { View()->setCurrentIndex(Row(row)); }
    void Keys(const QKeySequence &keys)
    {
        View()->setFocus();
        QTest::keySequence(View(), keys);
        Settle();
    }
    static void Answer(const QList<MessageBoxes::Answer> &answers) { MessageBoxes::SetNextAnswers(answers); }
    void Theirs(const Texts &keywords) { QVERIFY2(WriteKeywords(Working(), keywords), "another save"); }
    void Type(const QString &text) // into the add dialog, then OK
    {
        QVERIFY2(Typed(), "no add dialog");
        Typed()->setText(text);
        m_window->AddDialog()->findChild<QPushButton *>("Command1")->click();
        Settle();
    }
    void Add(const QString &text)
    {
        Click("Command1");
        Type(text);
    }
    void Edit(int row, const QString &appended) // in place, then Enter
    {
        Pick(row);
        QTest::keyClick(View(), Qt::Key_F2);
        auto *editor = View()->findChild<QLineEdit *>();
        QVERIFY2(editor, "no editor");
        editor->setText(editor->text() + appended);
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
    }
    QPushButton *Button(const char *name) const { return m_window->findChild<QPushButton *>(name); }
    static QMessageBox *Note() // the note of a save that waits for another
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        return box && box->text().startsWith("正在等待") ? box : nullptr;
    }
    // Runs steps every ms milliseconds from now on, saves included, until what this returns is deleted.
    QTimer *Every(int ms, const Steps &steps)
    {
        auto *timer = new QTimer(m_window.get());
        connect(timer, &QTimer::timeout, steps);
        timer->start(ms);
        return timer;
    }
    // Another process holds the save lock for ms milliseconds (the store suite's helper), or nothing when it cannot.
    std::unique_ptr<QProcess> HoldLock(int ms) const
    {
        auto holder = std::make_unique<QProcess>();
        holder->start(QStandardPaths::findExecutable("tst_keywordstore", {QCoreApplication::applicationDirPath()}),
                      {"--hold-lock", Working(), QString::number(ms), ""});
        return holder->waitForReadyRead(10000) && holder->readAll().trimmed() == "locked" ? std::move(holder) : nullptr;
    }
    void Picked(int row)
    {
        QCOMPARE(View()->selectionModel()->selectedRows() << View()->currentIndex(), QModelIndexList(2, Row(row)));
    }
    void InSight(int row)
    {
        QVERIFY2(View()->visualRect(Row(row)).top() >= 0
                         && View()->visualRect(Row(row)).bottom() < View()->viewport()->height(),
                 "row out of sight");
    }
    void Saved(const Texts &keywords) { QCOMPARE(ReadAll(Working()), KeywordFile::Encode(keywords).bytes); }

    // A table of steps from a working copy holding "before" to a list holding "after", with the boxes (title, text, …)
    // shown.
    static void Columns()
    {
        QTest::addColumn<Texts>("before");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<Texts>("after");
        QTest::addColumn<Boxes>("boxes");
    }
    static void Case(const QString &name, const Texts &before, const Steps &steps, const Texts &after,
                     const Boxes &boxes = {})
    {
        QTest::newRow(qPrintable(name)) << before << steps << after << boxes;
    }
    void Play()
    {
        QFETCH(Texts, before);
        QFETCH(Steps, steps);
        QFETCH(Texts, after);
        QFETCH(Boxes, boxes);
        QVERIFY(Start(before));
        steps();
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE(Keywords(), after); // an access key presses its button a moment later
        QCOMPARE(MessageBoxes::TakeShown(), boxes);
    }

    // From now on boxes are shown, in a style that puts pictures on standard buttons as some desktops' do, and
    // each is answered once it is up: with the button of the next of these captions, or Esc when there is none.
    void AnswerShown(Texts captions)
    {
        MessageBoxes::ShowBoxes();
        qApp->setStyleSheet("QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 1 }");
        auto *answerer = new QTimer(m_window.get());
        connect(answerer, &QTimer::timeout, this, [this, captions]() mutable {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            const bool decorated = box->icon() != QMessageBox::NoIcon || !box->iconPixmap().isNull()
                                || std::ranges::any_of(box->buttons(), [](QAbstractButton *answer) {
                                       return !answer->icon().isNull();
                                   });
            Seen seen{box->text(), {}, decorated, Waiting()};
            for (QLabel *label : box->findChildren<QLabel *>()) // as a screen reader reads it: as the label shows it
                if (QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(label);
                    reader && label->text() == box->text())
                    seen.shown = reader->text(QAccessible::Name);
            m_seen << seen;
            const QString caption = captions.isEmpty() ? QString() : captions.takeFirst();
            for (QAbstractButton *answer : box->buttons())
                if (answer->text() == caption)
                    return answer->click();
            box->reject();
        });
        answerer->start(10);
    }

private slots:
    void initTestCase()
    {
        SaveRecord::SetDestination(QString());
        SetPoints(Twips::DesignPoints);
    }
    void cleanup()
    {
        m_window.reset();
        qDeleteAll(QApplication::topLevelWidgets());
        MessageBoxes::TakeShown();
        m_seen.clear();
        m_paints = 0;
        SetPoints(Twips::DesignPoints);
        QToolTip::hideText();
        qApp->setStyleSheet({});
    }

    void mainWindow_data()
    {
        Columns();
        const Texts forty(40, "k"), two{"select", "union"};
        Case("Delete: the picked one of two alike", {"a", "b", "b"},
             [this] {
                 Pick(2);
                 Click("Command2");
             },
             {"a", "b"});
        Case("Alt+D", {"a", "b", "b"},
             [this] {
                 Pick(1);
                 Keys(QKeySequence("Alt+D"));
             },
             {"a", "b"});
        Case(
                "Home: the first row", forty,
                [this] {
                    Pick(20);
                    Keys(Qt::Key_Home);
                    Picked(0);
                },
                forty);
        Case(
                "End: the last row", forty,
                [this] {
                    Pick(5);
                    Keys(Qt::Key_End);
                    Picked(39);
                },
                forty);
        Case(
                "Right: scrolls sideways", forty,
                [this] {
                    Pick(5);
                    Keys(Qt::Key_Right);
                    Picked(5);
                    QVERIFY2(View()->visualRect(Row(5)).right() < View()->viewport()->width(),
                             "the column's end out of sight");
                },
                forty);
        Case(
                "rows as tall as a line of text", two,
                [this] { QCOMPARE(View()->visualRect(Row(1)).height(), View()->sizeHintForRow(1)); }, two);
        Case("No to Restore", {"a"},
             [this] {
                 Answer({MessageBoxes::Answer::No});
                 Click("Command4");
             },
             {"a"}, {{RestoreTitle, RestoreText}});
        Case("No to Save", {"a"},
             [this] {
                 Answer({MessageBoxes::Answer::No});
                 Click("Command5");
                 Saved({"a"});
             },
             {"a"}, {{Form1::Caption(), SaveText}});
#ifndef Q_OS_WIN // where a folder's mode says who may write in it
        Case("Save where anyone may write: saved, and said so", {"a"},
             [this] {
                 const QString folder = Locations::InRoot(m_dir.path()).filterDirectory;
                 const auto permissions = QFile::permissions(folder);
                 const auto closed = qScopeGuard([&] { QFile::setPermissions(folder, permissions); });
                 QVERIFY2(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)),
                          "cannot open the filter's folder to all");
                 Answer({MessageBoxes::Answer::Yes});
                 Click("Command5");
                 Saved({"a"});
                 const Boxes shown = MessageBoxes::TakeShown();
                 QVERIFY2(shown.size() == 2 && shown[1].second.startsWith("注意：文件夹 " + folder + " 也允许所有用户"),
                          qPrintable(shown.value(1).second));
             },
             {"a"});
#endif
    }
    void mainWindow()
    {
        Play();
    }

    void addDialog_data()
    {
        Columns();
        const Texts forty(40, "k");
        for (const auto &[what, text] :
             {std::pair{"spaces kept", QString(" 你好 ")},
              {"empty", QString()},
              {"one already there", QString("a")},
              {"longer than a line edit takes", QString(QLineEdit().maxLength() + 1, 'x') + "末"}})
            Case(QString("as typed: ") + what, {"a"}, [this, text = text] { Add(text); }, {"a", text});
        Case("after Restore, the dialog open", {"a"},
             [this] {
                 Click("Command1");
                 Answer({MessageBoxes::Answer::Yes});
                 Click("Command4");
                 Type("new");
             },
             DefaultKeywords() << "new", {{RestoreTitle, RestoreText}});
        Case(
                "the new row in sight, the picked row kept", forty,
                [this] {
                    Pick(2);
                    Add("new");
                    InSight(40);
                    Picked(2);
                },
                forty + Texts{"new"});
        Case("twice: one dialog", {"a"},
             [this] {
                 Click("Command1");
                 Click("Command1");
                 QCOMPARE(std::ranges::count_if(QApplication::topLevelWidgets(),
                                                [](QWidget *w) { return qobject_cast<add *>(w); }),
                          1);
             },
             {"a"});
        Case("each opening empty", {"a"},
             [this] {
                 Add("typed");
                 Click("Command1");
                 QCOMPARE(DialogText(), "");
             },
             {"a", "typed"});
        Case("OK after the main window closed: nothing", {"a"},
             [this] {
                 Click("Command1");
                 m_window->close();
                 Type("late");
             },
             {"a"});
    }
    void addDialog()
    {
        Play();
    }

    // Added or edited in place, what the keyword file cannot hold is refused; what it held is kept.
    void addAndEditRefusals_data()
    {
        Columns();
        for (const auto &[what, text, refusal] :
             {std::tuple{"a line break", QString("a\nb"), "关键字含有换行符，无法保存。"},
              {"a NUL", QStringLiteral("a\0b"), "关键字含有空字符（NUL），无法保存。"},
              {"outside GBK", QStringLiteral("a😀"), "关键字含有 GBK 编码无法保存的字符，无法保存。"}}) {
            Case(QString("Add: ") + what, {"mine"},
                 [this, text = text] {
                     Add(text);
                     QCOMPARE(DialogText(), text);
                 },
                 {"mine"}, {{add::Caption(), refusal}});
            Case(QString("Edit: ") + what, {"mine"}, [this, text = text] { Edit(0, text); }, {"mine"},
                 {{Form1::Caption(), refusal}});
        }
        const QString shown(KeywordDelegate::ShownLength + 1, 'x'), lineEdit(QLineEdit().maxLength() + 1, 'x'),
                nul = QStringLiteral("a\0b");
        Case("Edit: longer than the list shows, unchanged", {shown}, [this] { Edit(0, ""); }, {shown});
        Case("Edit: longer than a line edit takes", {lineEdit}, [this] { Edit(0, "y"); }, {lineEdit + "y"});
        Case("Edit: a NUL from the file, unchanged", {nul}, [this] { Edit(0, ""); }, {nul});
        // GBK EF BB BF 40 78: only as the file's first line would it read as UTF-8.
        const QString mark = QStringLiteral("锘緻x");
        Case("Add: the UTF-8 mark's bytes as the first keyword", {}, [this, mark] { Add(mark); }, {},
             {{add::Caption(), "关键字" + KeywordFile::FaultText(KeywordFile::Fault::ReadsAsUtf8) + "，无法保存。"}});
        Case("Add: the UTF-8 mark's bytes after the first keyword", {"a"}, [this, mark] { Add(mark); }, {"a", mark});
    }
    void addAndEditRefusals()
    {
        Play();
    }

    void mergeQuestion_data()
    {
        Columns();
        const Boxes boxes{{Form1::Caption(), SaveText},
                          {Form1::Caption(), Form1::ChangedPrompt(Working(), {{"theirs"}, {}})}};
        using A = MessageBoxes::Answer;
        for (const auto &[answer, chosen, after, saved] :
             {std::tuple{"merge", A::Merge, Texts{"old", "theirs", "mine"}, Texts{"old", "theirs", "mine"}},
              {"overwrite", A::Overwrite, Texts{"old", "mine"}, Texts{"old", "mine"}},
              {"cancel", A::Cancel, Texts{"old", "mine"}, Texts{"old", "theirs"}}})
            Case(
                    answer, {"old"},
                    [this, chosen = chosen, saved = saved] {
                        Theirs({"old", "theirs"});
                        Add("mine");
                        Answer({MessageBoxes::Answer::Yes, chosen});
                        Click("Command5");
                        Saved(saved);
                    },
                    after, boxes);
    }
    void mergeQuestion()
    {
        Play();
    }

    // Boxes shown for real. Read as rich text, "<!--" hid the rest of the merge question, and an image's source
    // was opened (a FIFO's for good).
    void boxesShown_data()
    {
        Columns();
        for (const auto &[what, button] : {std::pair{"Restore", "Command4"}, {"Save", "Command5"}})
            Case(QString("no icon on the question of ") + what, {"a"},
                 [this, button = button] {
                     AnswerShown({});
                     Click(button);
                     QVERIFY2(m_seen.size() == 1 && !m_seen[0].decorated, "a question with an icon");
                 },
                 {"a"});
        // Every box goes through one seam: the merge question stands for them all.
        Case("the merge question, keywords as they are", {"a"},
             [this] {
                 Theirs({"a", "<b>x</b>", "<img src=f.png>", "<!--"});
                 AnswerShown({Yes});
                 Click("Command5");
                 QVERIFY2(m_seen.size() == 2 && m_seen[1].text.contains("“<b>x</b>”、“<img src=f.png>”、“<!--”"),
                          "no merge question quoting them");
                 QCOMPARE(m_seen[1].shown, m_seen[1].text);
             },
             {"a"});
        Case("the wait cursor while saving, not over the question", {"old"},
             [this] {
                 bool merged = false, waiting = false;
                 QObject watch;
                 connect(&m_window->Keywords(), &QAbstractItemModel::rowsInserted, &watch,
                         [&] { merged = true, waiting = Waiting(); });
                 Theirs({"old", "theirs"});
                 AnswerShown({Yes, "合并(&M)"});
                 Click("Command5");
                 QVERIFY2(merged && waiting, merged ? "no wait cursor while saving" : "the save did not merge");
                 QVERIFY2(m_seen.size() == 2 && !m_seen[1].waiting, "the wait cursor over the merge question");
                 QVERIFY2(!QGuiApplication::overrideCursor(), "the wait cursor left after the save");
             },
             {"old", "theirs"});
    }
    void boxesShown()
    {
        Play();
    }

    // Input tried every 30 ms while a save waits 0.8 s for another, before its note is up and after.
    void noInputReachesTheListWhileSaving_data()
    {
        QTest::addColumn<Steps>("input");
        const auto edit = [this] { // in the editor, if one opened
            if (auto *editor = View()->findChild<QLineEdit *>()) {
                QTest::keyClicks(editor, "x");
                QTest::keyClick(editor, Qt::Key_Return);
            }
        };
        QTest::newRow("the Delete key") << Steps([this] {
            m_window->activateWindow();
            View()->setFocus();
            QTest::keyClick(View(), Qt::Key_Delete);
        });
        QTest::newRow("Alt+D") << Steps([this] {
            m_window->activateWindow();
            QTest::keyClick(m_window.get(), Qt::Key_D, Qt::AltModifier);
        });
        for (const char *button : {"Command2", "Command4", "Command5"})
            QTest::newRow(button) << Steps([this, button] { QTest::mouseClick(Button(button), Qt::LeftButton); });
        QTest::newRow("F2, typed, Enter") << Steps([this, edit] {
            View()->setFocus();
            QTest::keyClick(View(), Qt::Key_F2);
            edit();
        });
        QTest::newRow("a double-click, typed, Enter") << Steps([this, edit] {
            QTest::mouseDClick(View()->viewport(), Qt::LeftButton, {}, View()->visualRect(Row(1)).center()), edit();
        });
        QTest::newRow("the add dialog's OK") << Steps([this] {
            if (m_window->AddDialog())
                QTest::mouseClick(m_window->AddDialog()->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        });
        QTest::newRow("Alt+O in the add dialog") << Steps([this] {
            if (m_window->AddDialog()) {
                m_window->AddDialog()->activateWindow();
                QTest::keyClick(Typed(), Qt::Key_O, Qt::AltModifier);
            }
        });
    }
    void noInputReachesTheListWhileSaving()
    {
        QFETCH(Steps, input);
        QVERIFY(Start({"a", "b"}));
        Click("Command1");
        Typed()->setText("typed");
        Pick(0);
        const auto holder = HoldLock(800);
        if (!holder)
            QSKIP("no other process to hold the lock");
        QTimer *tries = Every(30, input);
        Answer({MessageBoxes::Answer::Yes});
        Button("Command5")->click();
        delete tries;
        QCOMPARE(Keywords(), Texts({"a", "b"}));
        QCOMPARE(MessageBoxes::TakeShown(), Boxes({{Form1::Caption(), SaveText}}));
        QCOMPARE(DialogText(), "typed");
        Saved({"a", "b"});
    }

    // How a save that waits for another ends. Each opens on "old", adds "mine" and saves; the steps are taken once
    // the note is up, which names the holder after half a second. Meanwhile the window's timers fire and it paints.
    void aSaveThatWaits_data()
    {
        QTest::addColumn<int>("holdFor");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("open");    // the window, after
        QTest::addColumn<bool>("refused"); // with the message that another save does not end
        const Steps cancel = [] { QTest::mouseClick(Note()->buttons().value(0), Qt::LeftButton); };
        QTest::newRow("取消: at once, nothing written") << 60000 << cancel << false << true << false;
        QTest::newRow("never let go: after 5 s, nothing written") << 60000 << Steps() << false << true << true;
        QTest::newRow("let go meanwhile: saved") << 1500 << Steps() << true << true << false;
        QTest::newRow("window closed: closes once saved")
                << 1000 << Steps([this] { m_window->close(); }) << true << false << false;
        QTest::newRow("window closed, then 取消: stays open") << 60000 << Steps([this, cancel] {
            m_window->close();
            cancel();
        }) << false << true << false;
    }
    void aSaveThatWaits()
    {
        QFETCH(int, holdFor);
        QFETCH(Steps, steps);
        QVERIFY(Start({"old"}));
        Add("mine");
        const auto holder = HoldLock(holdFor);
        if (!holder)
            QSKIP("no other process to hold the lock");
#ifdef Q_OS_WIN // the system does not tell who holds a lock
        const QString who = "另一位操作员";
#else
        const QString who = QString("（进程 %1）").arg(holder->processId());
#endif
        QElapsedTimer clock, noted;
        qint64 last = 0, longest = 0;
        QString note;
        m_window->installEventFilter(this);
        Every(20, [&] {
            longest = qMax(longest, clock.elapsed() - last), last = clock.elapsed(), m_window->update();
            if (Note() && !noted.isValid())
                note = Note()->text(), noted.start(), steps ? steps() : void();
        });
        Answer({MessageBoxes::Answer::Yes});
        clock.start();
        Button("Command5")->click();
        const qint64 took = clock.elapsed();
        longest = qMax(longest, took - last);
        QVERIFY2(longest < 200 && m_paints >= took / 100,
                 qPrintable(QString("in %1 ms, %2 paints and a stall of %3 ms").arg(took).arg(m_paints).arg(longest)));
        QVERIFY2(note.contains(who) && took - noted.elapsed() >= 400 && took - noted.elapsed() < 1000,
                 qPrintable(QString("after %1 ms: %2").arg(took - noted.elapsed()).arg(note)));
        QFETCH(bool, saved);
        QFETCH(bool, refused);
        QVERIFY2(noted.elapsed() < (saved || refused ? 6000 : 1000) && !Note(), "the wait went on");
        QCOMPARE(Keywords(), Texts({"old", "mine"}));
        Saved(saved ? Texts{"old", "mine"} : Texts{"old"});
        QTEST(m_window->isVisible(), "open");
        const Boxes boxes = MessageBoxes::TakeShown();
        QVERIFY2(boxes.size() == 1 + refused && boxes.constLast().second.contains("正在保存这份列表") == refused,
                 qPrintable(boxes.constLast().second));
    }

    // What a screen reader reads: each window as what it is, the list by its heading, a row as the list shows it.
    void readAloud_data()
    {
        QTest::addColumn<QString>("what"); // Form1, add, ListView1, or the list's one row
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        const QString cut(KeywordDelegate::ShownLength + 1, 'x');
        QTest::newRow("the main window") << "Form1"
                                         << "" << int(QAccessible::Window) << Form1::Caption();
        QTest::newRow("the add dialog") << "add"
                                        << "" << int(QAccessible::Dialog) << add::Caption();
        QTest::newRow("the list") << "ListView1"
                                  << "" << int(QAccessible::Table) << "过滤URL关键字列表";
        for (const auto &[what, keyword, read] : {std::tuple{"a row", QString("select"), QString("select")},
                                                  {"an ideographic space", QString("a\u3000b"), QString("a‹U+3000›b")},
                                                  {"a control", QString("a\a"), QString("a‹U+0007›")},
                                                  {"longer than the list shows", cut, cut.chopped(1) + "…"}})
            QTest::newRow(what) << "row" << keyword << int(QAccessible::Cell) << read;
    }
    void readAloud()
    {
        QFETCH(QString, what);
        QFETCH(QString, keyword);
        QVERIFY(Start({keyword}));
        Click("Command1");
        QWidget *widget = what == "Form1" ? m_window.get()
                        : what == "add"   ? static_cast<QWidget *>(m_window->AddDialog())
                                          : View();
        QAccessibleInterface *read = QAccessible::queryAccessibleInterface(widget);
        if (what == "row")
            read = read->tableInterface()->cellAt(0, 0);
        QVERIFY2(read, "nothing to read");
        QTEST(int(read->role()), "role");
        QTEST(read->text(QAccessible::Name), "name");
    }

    // A keyword the view cuts has the whole of it in a tooltip, as the list shows it, and as plain text; the tooltip
    // is cut in turn. "out of sight" ends in the column's part that the view hides.
    void cutKeywordsInFull_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("tip"); // none when empty
        const QString longer(KeywordDelegate::ShownLength + 10, 'x'), longest(KeywordDelegate::TipLength + 1, 'y');
        QTest::newRow("fits") << "select"
                              << "";
        QTest::newRow("out of sight") << ""
                                      << "";
        QTest::newRow("longer than the list shows") << longer << longer;
        QTest::newRow("longer than a tooltip shows") << longest << longest.chopped(1) + "…";
        QTest::newRow("marks and markup")
                << QString(60, 'x') + "\u3000<b>x</b><img src=f>" << QString(60, 'x') + "‹U+3000›<b>x</b><img src=f>";
    }
    void cutKeywordsInFull()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, tip);
        QVERIFY(Start({keyword}));
        if (keyword.isEmpty()) { // the row's text as wide as the view and half the part out of sight
            if (QFontDatabase::families().isEmpty())
                QSKIP("no font here to measure text with");
            const int margin = View()->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, View()) + 1;
            const int width = (View()->viewport()->width() + View()->visualRect(Row(0)).width()) / 2 - 2 * margin;
            while (View()->fontMetrics().horizontalAdvance(keyword + 'x') <= width)
                keyword += 'x';
            tip = keyword;
            QVERIFY2(View()->fontMetrics().horizontalAdvance(keyword) > View()->viewport()->width() - 2 * margin,
                     "the view hides no part of the column");
            m_window->Keywords().Clear();
            m_window->Keywords().Append(keyword);
        }
        QHelpEvent hover(QEvent::ToolTip, View()->visualRect(Row(0)).center(),
                         View()->viewport()->mapToGlobal(View()->visualRect(Row(0)).center()));
        QApplication::sendEvent(View()->viewport(), &hover);
        const QLabel *label = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == "qtooltip_label" && top->isVisible())
                label = qobject_cast<QLabel *>(top);
        QTextDocument shown;
        shown.setHtml(label ? label->text() : QString());
        QCOMPARE(shown.toPlainText().remove('\n'), tip); // in lines
        if (label && QFontDatabase::families().isEmpty())
            QSKIP("no font here to measure the tooltip with");
        QVERIFY2(!label || label->width() <= label->screen()->geometry().width(), "a tooltip wider than the screen");
    }

    // The "…" of a keyword wider than the view shows where the view ends, not in the column's part it hides.
    void cutWhereSeen()
    {
        QVERIFY(Start({QString(300, '_')}));
        const QImage image = View()->viewport()->grab().toImage();
        const QRect row = View()->visualRect(Row(0));
        const auto ink = [&](int from, int to) {
            for (int x = from; x <= to; ++x)
                for (int y = row.top(); y <= row.bottom(); ++y)
                    if (qGray(image.pixel(x, y)) < 128)
                        return true;
            return false;
        };
        const int edge = image.width() - 1;
        QVERIFY2(!ink(edge - 1, edge), "the keyword runs on out of sight");
        QVERIFY2(ink(edge - 20, edge - 2), "nothing near the view's edge");
    }

    // Tabbing into a list with nothing picked makes row 1 the current row, which Delete leaves alone: it is outlined,
    // not filled as a picked row is.
    void onlyPickedRowsLookPicked()
    {
        QVERIFY(Start({"a", "a"}));
        for (int tab = 0; tab < 4; ++tab)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY2(View()->hasFocus() && View()->currentIndex() == Row(0)
                         && View()->selectionModel()->selectedRows().isEmpty(),
                 "not in the list, nothing picked");
        const QImage image = View()->viewport()->grab().toImage();
        const auto inside = [&](int row) {
            return image.copy(View()->visualRect(Row(row)).intersected(image.rect()).adjusted(2, 2, -2, -2));
        };
        QVERIFY2(inside(0) == inside(1), "the current row filled as if picked");
    }

    void changedQuestionNamesTheirEdits()
    {
        const QString text =
                Form1::ChangedPrompt("/w/inject.txt", {{QStringLiteral("the\uFEFFirs")}, {"a", "b", "c", "d"}});
        QVERIFY2(text.startsWith("工作副本 /w/inject.txt ")
                         && text.contains("新增了 1 个关键字（“the‹U+FEFF›irs”），删除了 4 个（“a”、“b”、“c”等）。"),
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

    // The design: each control by window/container/name, its caption, and its place in twips in its container;
    // a window's row gives its client area. With a font larger than the design's 9 points, all grows in proportion.
    void controlsAsDesigned_data()
    {
        QTest::addColumn<qreal>("points");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("twips");
        for (const qreal points : {9, 11, 14}) {
            const auto row = [points](const QString &path, const QString &caption, QRect twips) {
                QTest::addRow("%s at %g pt", qPrintable(path), points) << points << path << caption << twips;
            };
            row("Form1", "Vantrel 通用防注入过滤器", {0, 0, 6195, 4050});
            row("Form1/Frame1", "过滤字符", {120, 240, 4575, 3615});
            row("Form1/Frame1/ListView1", "过滤URL关键字列表", {120, 240, 4335, 3135});
            row("Form1/Command1", "添加(A)", {4800, 360, 1215, 615});
            row("Form1/Command2", "删除(&D)", {4800, 1080, 1215, 615});
            row("Form1/Command4", "恢复默认", {4800, 1800, 1215, 615});
            row("Form1/Command5", "确定(O)", {4800, 2520, 1215, 615});
            row("add", "添加URL过滤字符", {0, 0, 4275, 1425});
            row("add/Frame1", "输入要过滤的字符", {120, 120, 2775, 1095});
            row("add/Frame1/Text1", "", {120, 360, 2535, 375});
            row("add/Command1", "确定(&O)", {3120, 120, 975, 495});
            row("add/Command2", "取消(&C)", {3120, 720, 975, 495});
        }
    }
    void controlsAsDesigned()
    {
        QFETCH(qreal, points);
        QFETCH(QString, path);
        QFETCH(QString, caption);
        QFETCH(QRect, twips);
        const Texts names = path.split('/');
        SetPoints(points);
        QVERIFY(Start({}));
        Click("Command1");
        QWidget *window = names[0] == "add" ? static_cast<QWidget *>(m_window->AddDialog()) : m_window.get();
        QWidget *control = names.size() == 1 ? window : window->findChild<QWidget *>(names.last());
        QVERIFY2(control && control->logicalDpiX() == 96 && control->logicalDpiY() == 96, "missing, or not at 96 DPI");
        if (names.size() > 1)
            QCOMPARE(control->parentWidget()->objectName(), names[names.size() - 2]);
        const auto px = [points](int twips) {
            return qRound(twips * points / 9 / 15);
        }; // 15 twips to a pixel at 96 DPI
        QCOMPARE(names.size() == 1 ? QRect({}, control->size()) : control->geometry(),
                 QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())));
        const auto *view = qobject_cast<QAbstractItemView *>(control);
        const char *property = names.size() == 1                  ? "windowTitle"
                             : qobject_cast<QGroupBox *>(control) ? "title"
                                                                  : "text";
        QCOMPARE(view ? view->model()->headerData(0, Qt::Horizontal).toString()
                      : control->property(property).toString(),
                 caption);

        // No text is cut: a title stands above what its group box holds, a caption inside its button with the style's
        // margins, and the text box is as tall as its font needs.
        if (QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
            QSKIP("no font here writes the captions, to measure them");
        const QStyle *style = control->style();
        const QFontMetrics metrics = control->fontMetrics();
        if (const auto *frame = qobject_cast<QGroupBox *>(control)) {
            QStyleOptionGroupBox option;
            option.initFrom(frame);
            option.text = caption;
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            const int below = style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame).top()
                            + metrics.height();
            for (const QWidget *inside : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                QVERIFY2(below <= inside->y(), qPrintable(QString("the title down to %1, %2 from %3")
                                                                  .arg(below)
                                                                  .arg(inside->objectName())
                                                                  .arg(inside->y())));
        } else if (qobject_cast<QPushButton *>(control)) {
            const int margins =
                    style->pixelMetric(QStyle::PM_ButtonMargin) + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
            const QSize needs = metrics.size(Qt::TextShowMnemonic, caption) + QSize(margins, margins);
            QVERIFY2(needs.boundedTo(control->size()) == needs,
                     qPrintable(QString("the caption needs %1x%2").arg(needs.width()).arg(needs.height())));
        } else if (qobject_cast<QLineEdit *>(control)) {
            QVERIFY2(control->height() >= control->minimumSizeHint().height(), "too low for its font");
        }
    }

    // To the nearest pixel: the design's multiples of 15 twips leave nothing to round at 96 DPI.
    void twipsRoundToNearest()
    {
        QCOMPARE(Twips::ToPixels(1425, 120), 119); // 118.75
        QCOMPARE(Twips::ToPixels(1425, 144), 143); // 142.5: away from zero, not to the even 142
        QCOMPARE(Twips::ToPixels(7, 96), 0);       // 0.47
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
