#include "Form1.h"
#include "MessageBox.h"
#include "TestFiles.h"
#include "add.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace {

struct Told
{
    QString title;
    QString text;
};

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startUpFillsTheListInFileOrder();
    void missingWorkingCopyNeverShowsTheWindow();
    void deleteRemovesOnlyThePickedRow();
    void questionsGuardRestoreAndSave_data();
    void questionsGuardRestoreAndSave();
    void addDialogIsSingleAndAppendsToTheCurrentList();
    void addDialogIgnoresEnterAndEscButAnswersAccessKeys();
    void addDialogRefusesTextTheFileCannotHold_data();
    void addDialogRefusesTextTheFileCannotHold();
    void addDialogAfterMainWindowClosedOnlyCloses();
    void editInPlaceRefusesALineBreak();
    void questionBoxAsShown();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Locations m_at;
    QList<bool> m_answers;
    QStringList m_asked;
    QList<Told> m_told;
    std::unique_ptr<Form1> start(const QByteArray &workingCopy);
    QStringList rows(Form1 &window) const { return window.Keywords().Texts(); }
    void select(Form1 &window, int row);
};

void TestForm1::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_at = {m_dir->filePath("inject.txt"), m_dir->filePath("tarnwick"),
            m_dir->filePath("tarnwick/inject.txt")};
    m_answers.clear();
    m_asked.clear();
    m_told.clear();
}

void TestForm1::cleanup()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->inherits("add"))
            delete window;
}

std::unique_ptr<Form1> TestForm1::start(const QByteArray &workingCopy)
{
    if (!workingCopy.isNull() && !WriteAll(m_at.workingCopy, workingCopy))
        return nullptr;
    auto window = Form1::Start(
        m_at,
        [this](const QString &prompt, const QString &title) {
            m_asked << prompt + " | " + title;
            return !m_answers.isEmpty() && m_answers.takeFirst();
        },
        [this](const QString &title, const QString &text) { m_told.append({title, text}); });
    if (window) {
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return nullptr;
    }
    return window;
}

void TestForm1::select(Form1 &window, int row)
{
    window.ListView1->setCurrentIndex(window.Keywords().index(row)); // as a click does
}

void TestForm1::startUpFillsTheListInFileOrder()
{
    auto window = start("b\r\na\r\n\r\nb");
    QVERIFY(window);
    QCOMPARE(rows(*window), QStringList({"b", "a", "", "b"}));
    QCOMPARE(window->ListView1->model(), &window->Keywords());
    QVERIFY2(window->ListView1->selectionModel()->selectedRows().isEmpty(), "a row starts selected");
    QCOMPARE(QApplication::focusWidget(), window->Command1);
    QVERIFY(QDir(m_at.filterDirectory).exists());
}

void TestForm1::missingWorkingCopyNeverShowsTheWindow()
{
    auto window = start(QByteArray());
    QVERIFY(!window);
    QCOMPARE(m_told.size(), 1);
    QCOMPARE(m_told.first().title, Form1::Caption());
    QVERIFY2(m_told.first().text.contains(m_at.workingCopy), qPrintable(m_told.first().text));
    QVERIFY(QApplication::topLevelWidgets().isEmpty() || !QApplication::activeWindow());
}

void TestForm1::deleteRemovesOnlyThePickedRow()
{
    auto window = start("a\r\nx\r\nb\r\nx\r\nc\r\n");
    QVERIFY(window);
    window->Command2->click();
    QCOMPARE(rows(*window).size(), 5); // nothing picked, nothing deleted

    select(*window, 3); // the second "x"
    window->Command2->click();
    QCOMPARE(rows(*window), QStringList({"a", "x", "b", "c"}));
    window->Command2->click();
    QCOMPARE(rows(*window), QStringList({"a", "x", "b", "c"}));
    QVERIFY(m_asked.isEmpty());
    QCOMPARE(ReadAll(m_at.workingCopy), QByteArray("a\r\nx\r\nb\r\nx\r\nc\r\n"));
}

void TestForm1::questionsGuardRestoreAndSave_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("rowsAfter");
    QTest::addColumn<QByteArray>("fileAfter");

    const QString restore = QStringLiteral("你是否要恢复系统的默认设置? | Vantrel通用防注入过滤器恢复默认设置");
    const QString save = QStringLiteral("你是否要保存系统设置? | Vantrel 通用防注入过滤器");
    QTest::newRow("restore, no") << "Command4" << false << restore << 2 << QByteArray("old\r\n");
    QTest::newRow("restore, yes") << "Command4" << true << restore << 12 << QByteArray("old\r\n");
    QTest::newRow("save, no") << "Command5" << false << save << 2 << QByteArray("old\r\n");
    QTest::newRow("save, yes") << "Command5" << true << save << 2
                               << QByteArray("\xc4\xe3\xba\xc3\r\nx\r\n");
}

void TestForm1::questionsGuardRestoreAndSave()
{
    QFETCH(QString, button);
    QFETCH(bool, yes);
    QFETCH(QString, question);
    QFETCH(int, rowsAfter);
    QFETCH(QByteArray, fileAfter);

    auto window = start("old\r\n");
    QVERIFY(window);
    QVERIFY(WriteAll(m_at.publishedCopy, "old\r\n"));
    window->Keywords().Clear();
    window->Keywords().AppendAll({QStringLiteral("你好"), "x"});
    select(*window, 1);

    m_answers = {yes};
    window->findChild<QPushButton *>(button)->click();
    QCOMPARE(m_asked, QStringList{question});
    QCOMPARE(rows(*window).size(), rowsAfter);
    QCOMPARE(ReadAll(m_at.workingCopy), fileAfter);
    QCOMPARE(ReadAll(m_at.publishedCopy), fileAfter);
    QVERIFY2(m_told.isEmpty(), m_told.isEmpty() ? "" : qPrintable(m_told.first().text));
    if (button == "Command5") // saving leaves the selection as it was
        QCOMPARE(window->ListView1->selectionModel()->selectedRows().value(0).row(), 1);
}

void TestForm1::addDialogIsSingleAndAppendsToTheCurrentList()
{
    auto window = start("mine\r\n");
    QVERIFY(window);
    window->Command1->click();
    add *dialog = window->AddDialog();
    QVERIFY(dialog && dialog->isVisible());
    window->Command1->click();
    QCOMPARE(window->AddDialog(), dialog);

    m_answers = {true};
    window->Command4->click(); // restore while the dialog is open
    dialog->Text1->setText(QStringLiteral(" 你好 "));
    dialog->Command1->click();
    QCOMPARE(rows(*window).size(), 13);
    QCOMPARE(rows(*window).first(), QStringLiteral("'"));
    QCOMPARE(rows(*window).last(), QStringLiteral(" 你好 "));
    QTRY_VERIFY(!window->AddDialog()); // closed and deleted

    window->Command1->click(); // a new opening starts empty
    QVERIFY(window->AddDialog()->Text1->text().isEmpty());
    window->AddDialog()->Command2->click();
    QCOMPARE(rows(*window).size(), 13);
}

void TestForm1::addDialogIgnoresEnterAndEscButAnswersAccessKeys()
{
    auto window = start("mine\r\n");
    QVERIFY(window);
    window->Command1->click();
    QPointer<add> dialog = window->AddDialog();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(QApplication::focusWidget(), dialog->Text1);

    QTest::keyClicks(dialog->Text1, "or 1=1");
    for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(dialog->Text1, Qt::Key(key));
        QTest::keyClick(dialog->Command2, Qt::Key(key));
    }
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(rows(*window), QStringList{"mine"});

    QTest::keyClick(dialog->windowHandle(), Qt::Key_O, Qt::AltModifier);
    QTRY_COMPARE(rows(*window), QStringList({"mine", "or 1=1"})); // an access key clicks after a short delay
    QTRY_VERIFY(!dialog);

    window->Command1->click();
    dialog = window->AddDialog();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QTest::keyClicks(dialog->Text1, "dropped");
    QTest::keyClick(dialog->windowHandle(), Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(!dialog);
    QCOMPARE(rows(*window), QStringList({"mine", "or 1=1"}));
}

void TestForm1::addDialogRefusesTextTheFileCannotHold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("line break") << "a\nb" << QStringLiteral("关键字不能包含换行符。");
    QTest::newRow("outside GBK") << QStringLiteral("a😀") << QStringLiteral("关键字含有无法保存的字符。");
}

void TestForm1::addDialogRefusesTextTheFileCannotHold()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    auto window = start("mine\r\n");
    QVERIFY(window);
    window->Command1->click();
    add *dialog = window->AddDialog();
    dialog->Text1->setText(text);
    dialog->Command1->click();
    QCOMPARE(m_told.size(), 1);
    QCOMPARE(m_told.first().text, message);
    QCOMPARE(m_told.first().title, add::Caption());
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->Text1->text(), text);
    QCOMPARE(rows(*window), QStringList{"mine"});
}

void TestForm1::addDialogAfterMainWindowClosedOnlyCloses()
{
    auto window = start("mine\r\n");
    QVERIFY(window);
    window->Command1->click();
    QPointer<add> dialog = window->AddDialog();
    window->close();
    dialog->Text1->setText("late");
    dialog->Command1->click();
    QTRY_VERIFY(!dialog);
    QCOMPARE(rows(*window), QStringList{"mine"});
    QCOMPARE(ReadAll(m_at.workingCopy), QByteArray("mine\r\n"));
}

void TestForm1::editInPlaceRefusesALineBreak()
{
    auto window = start("one\r\ntwo\r\n");
    QVERIFY(window);
    QTreeView *view = window->ListView1;
    for (const QString &typed : {QStringLiteral("bad\nline"), QStringLiteral("二")}) {
        view->setFocus();
        view->setCurrentIndex(window->Keywords().index(1));
        QTest::keyClick(view, Qt::Key_F2);
        auto *editor = view->findChild<QLineEdit *>();
        QVERIFY2(editor, "F2 opened no editor");
        editor->setText(typed);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!view->findChild<QLineEdit *>() || !view->findChild<QLineEdit *>()->isVisible());
    }
    QCOMPARE(rows(*window), QStringList({"one", QStringLiteral("二")}));
    QTRY_COMPARE(m_told.size(), 1);
    QCOMPARE(m_told.first().text, QStringLiteral("关键字不能包含换行符。"));
}

void TestForm1::questionBoxAsShown()
{
    const auto box = MessageBox::CreateQuestion(nullptr, "prompt?", "title");
    QCOMPARE(box->text(), QStringLiteral("prompt?"));
    QCOMPARE(box->windowTitle(), QStringLiteral("title"));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
    QCOMPARE(box->buttons().size(), 2);
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
    QCOMPARE(box->button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
    QCOMPARE(box->button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));

    // Esc answers No, and Enter the default, Yes.
    for (const auto &[key, yes] : {std::pair{Qt::Key_Escape, false}, std::pair{Qt::Key_Return, true}}) {
        QTimer::singleShot(0, qApp, [key = key] {
            QVERIFY(QApplication::activeModalWidget());
            QTest::keyClick(QApplication::activeModalWidget(), key);
        });
        QCOMPARE(MessageBox::AskYesNo(nullptr, "prompt?", "title"), yes);
    }
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
