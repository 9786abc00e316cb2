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
    void addDialogIsSingleAndAppendsToTheCurrentList();
    void addDialogRefusesTextTheFileCannotHold_data();
    void addDialogRefusesTextTheFileCannotHold();
    void editInPlaceRefusesALineBreak();
    void questionBoxAsShown();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Locations m_at;
    QList<bool> m_answers;
    QList<Told> m_told;
    std::unique_ptr<Form1> start(const QByteArray &workingCopy);
    QStringList rows(Form1 &window) const { return window.Keywords().Texts(); }
};

void TestForm1::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_at = {m_dir->filePath("inject.txt"), m_dir->filePath("tarnwick"),
            m_dir->filePath("tarnwick/inject.txt")};
    m_answers.clear();
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
        [this](const QString &, const QString &) {
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
