#include "Form1.h"
#include "SaveRecord.h"
#include "TestFiles.h"

#include <QtTest>
#include <QtWidgets>

using Told = QList<std::pair<QString, QString>>;

// F2, then the typed text if any, then Return.
static void editInPlace(QAbstractItemView *view, int row, const QString &typed = {})
{
    view->setCurrentIndex(view->model()->index(row, 0));
    QTest::keyClick(view, Qt::Key_F2);
    auto *editor = view->findChild<QLineEdit *>();
    QVERIFY2(editor, "F2 opened no editor");
    if (!typed.isNull())
        editor->setText(typed);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!view->findChild<QLineEdit *>());
    QCoreApplication::processEvents(); // a refusal is told once the editor has closed
}

class TestForm1 : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    bool m_yes = false;
    Told m_told;

    std::unique_ptr<Form1> start(const QByteArray &workingCopy)
    {
        const Locations at{m_dir.filePath("inject.txt"), m_dir.filePath("tarnwick"), m_dir.filePath("tarnwick/inject.txt")};
        auto window = WriteAll(at.workingCopy, workingCopy) ? Form1::Start(
            at, [this](const QString &prompt, const QString &title) { m_told.append({title, prompt}); return m_yes; },
            [this](const QString &title, const QString &text) { m_told.append({title, text}); },
            [this](const QString &prompt, const QString &title, const QStringList &answers) {
                m_told.append({title, prompt});
                // The real box, answered with Enter: its default.
                QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
                return MessageBox::AskChoice(nullptr, prompt, title, answers);
            }) : nullptr;
        if (window)
            window->show();
        return window && QTest::qWaitForWindowExposed(window.get()) ? std::move(window) : nullptr;
    }

private slots:
    void initTestCase() { SaveRecord::SetDestination(QString()); }
    void cleanup() { qDeleteAll(QApplication::topLevelWidgets()); m_told.clear(); m_yes = false; }

    void startUpEditAndAdd()
    {
        const QString huge(40000, 'x'), nul = QStringLiteral("a\0b");
        auto window = start("b\r\n" + huge.toLatin1() + QByteArrayLiteral("\r\na\0b\r\n\r\nb"));
        QVERIFY(window);
        KeywordList &keywords = window->Keywords();
        QAbstractItemModelTester tester(&keywords, QAbstractItemModelTester::FailureReportingMode::QtTest);
        auto *view = window->findChild<QAbstractItemView *>("ListView1");
        for (int row : {1, 2}) // changes nothing, even where the text could not be typed
            editInPlace(view, row);
        QCOMPARE(keywords.Texts(), QStringList({"b", huge, nul, "", "b"}));
        QCOMPARE(m_told, Told());
        // Shown shortened: laying out a huge keyword at every repaint takes seconds.
        const auto *delegate = static_cast<QStyledItemDelegate *>(view->itemDelegate());
        QCOMPARE(delegate->displayText(huge, {}), huge.first(1000) + u'…');

        window->findChild<QPushButton *>("Command1")->click();
        add *dialog = window->AddDialog();
        window->findChild<QPushButton *>("Command1")->click();
        QCOMPARE(window->AddDialog(), dialog);
        window->findChild<QPushButton *>("Command5")->click(); // No: nothing is saved
        m_yes = true;
        window->findChild<QPushButton *>("Command4")->click(); // while the dialog is open
        QCOMPARE(m_told, (Told{{Form1::Caption(), "你是否要保存系统设置?"},
                               {"Vantrel通用防注入过滤器恢复默认设置", "你是否要恢复系统的默认设置?"}}));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("tarnwick/inject.txt")));
        keywords.AppendAll(QStringList(30, "more than the view shows"));
        view->setCurrentIndex(keywords.index(2));
        dialog->findChild<QLineEdit *>("Text1")->setText(" 你好 ");
        dialog->findChild<QPushButton *>("Command1")->click();
        QCOMPARE(QStringList({keywords.Text(1), keywords.Text(43)}), QStringList({"'", " 你好 "}));
        const QRect added = view->visualRect(keywords.index(42));
        QVERIFY2(added.top() >= 0 && added.bottom() < view->viewport()->height(), "the new row is out of sight");
        // The selected and the current row stay as they were.
        QCOMPARE(view->selectionModel()->selectedRows() << view->currentIndex(), QModelIndexList(2, keywords.index(2)));

        QTRY_VERIFY(!window->AddDialog()); // closed and deleted
        window->findChild<QPushButton *>("Command1")->click();
        QVERIFY(window->AddDialog()->findChild<QLineEdit *>("Text1")->text().isEmpty());
        window->findChild<QPushButton *>("Command2")->click(); // the picked row only
        QVERIFY(keywords.Count() == 42 && !keywords.Texts().contains("%"));
    }

    // Another save came first: the question, answered with its default,
    // merges, and the window shows what was saved.
    void anotherSaveCameFirst()
    {
        auto window = start("old\r\n");
        QVERIFY(window);
        QVERIFY(WriteAll(m_dir.filePath("inject.txt"), "old\r\ntheirs\r\n"));
        window->Keywords().Append("mine");
        m_yes = true;
        window->findChild<QPushButton *>("Command5")->click();
        QCOMPARE(m_told.size(), 2);
        QCOMPARE(m_told.at(0).second, "你是否要保存系统设置?");
        QVERIFY2(m_told.at(1).first == Form1::Caption() && m_told.at(1).second.contains("新增了 1 个关键字（“theirs”），删除了 0 个。"),
                 qPrintable(m_told.at(1).second));
        QCOMPARE(window->Keywords().Texts(), QStringList({"old", "theirs", "mine"}));
        QCOMPARE(ReadAll(m_dir.filePath("inject.txt")), "old\r\ntheirs\r\nmine\r\n");
    }

    void keysMoveAsInAList_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("columnEndShown"); // the column is wider than the view
        QTest::newRow("Home to the first row") << int(Qt::Key_Home) << 20 << 0 << false;
        QTest::newRow("End to the last row") << int(Qt::Key_End) << 5 << 39 << false;
        QTest::newRow("Right scrolls sideways") << int(Qt::Key_Right) << 5 << 5 << true;
    }

    void keysMoveAsInAList()
    {
        QFETCH(int, key);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, columnEndShown);
        auto window = start(QByteArray("k\r\n").repeated(40));
        QVERIFY(window);
        auto *view = window->findChild<QAbstractItemView *>("ListView1");
        view->setCurrentIndex(view->model()->index(from, 0));
        QTest::keyClick(view, Qt::Key(key));
        QCOMPARE(view->currentIndex().row(), to);
        QCOMPARE(view->visualRect(view->currentIndex()).right() < view->viewport()->width(), columnEndShown);
    }

    void rowsAsTallAsALineOfText()
    {
        auto window = start("select\r\nunion\r\n");
        QVERIFY(window);
        auto *view = window->findChild<QAbstractItemView *>("ListView1");
        QCOMPARE(view->visualRect(view->model()->index(1, 0)).height(), view->sizeHintForRow(1));
    }

    void typedKeywordTakenWholeOrRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("longer than a line edit's default") << QString(40000, 'x') + "末" << "";
        QTest::newRow("line break") << "a\nb" << "关键字不能包含换行符。";
        QTest::newRow("NUL") << QStringLiteral("a\0b") << "关键字不能包含空字符（NUL）。";
    }

    void typedKeywordTakenWholeOrRefused()
    {
        QFETCH(QString, text);
        QFETCH(QString, refusal);
        auto window = start("mine\r\n");
        QVERIFY(window);
        window->findChild<QPushButton *>("Command1")->click();
        add *dialog = window->AddDialog();
        dialog->findChild<QLineEdit *>("Text1")->setText(text);
        dialog->findChild<QPushButton *>("Command1")->click();
        if (!refusal.isEmpty())
            QCOMPARE(dialog->findChild<QLineEdit *>("Text1")->text(), text); // left to be mended
        editInPlace(window->findChild<QAbstractItemView *>("ListView1"), 0, text);
        QCOMPARE(m_told, (refusal.isEmpty() ? Told() : Told{{add::Caption(), refusal}, {Form1::Caption(), refusal}}));
        QCOMPARE(window->Keywords().Texts(), (refusal.isEmpty() ? QStringList{text, text} : QStringList{"mine"}));
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
