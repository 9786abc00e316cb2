#include "MessageBoxes.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <optional>

namespace {

// Set by tests: the answers still to give, while no box is shown.
using Answer = MessageBoxes::Answer;

std::optional<QList<Answer>> nextAnswers;
QList<MessageBoxes::Shown> shown;

// How wide a window must be for a window manager to show the whole title in
// its title bar. They draw titles in bold, mostly in the desktop's own font,
// and put the window's icon and up to three buttons beside the title, each
// about a line high, with some space around them.
int TitleBarWidth(const QString &title)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + 6 * metrics.height();
}

// A message box sizes itself for its text and leaves the title bar to fend
// for itself, so window managers cut a title longer than the text. A row of
// the title bar's width under everything else keeps the box that wide.
void FitTitle(QMessageBox &box)
{
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(TitleBarWidth(box.windowTitle()), 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

// What every box of the program is, whether it asks or tells.
void Prepare(QMessageBox &box, const QList<QAbstractButton *> &buttons)
{
    box.setWindowModality(Qt::ApplicationModal);
    // Boxes quote keywords and paths, which anyone who may save can choose:
    // read as rich text, "<!--" would hide the rest of a question, and an
    // image's source would be opened, a FIFO blocking the window for good.
    box.setTextFormat(Qt::PlainText);
    // Some styles decorate standard buttons with pictures; these have none.
    for (QAbstractButton *button : buttons)
        button->setIcon(QIcon());
    box.setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    box.setEscapeButton(buttons.last());
    FitTitle(box);
}

// Shows the box and returns the answer of the button chosen.
Answer Run(QMessageBox &box, const QList<std::pair<QAbstractButton *, Answer>> &answers)
{
    QList<QAbstractButton *> buttons;
    for (const auto &[button, answer] : answers)
        buttons << button;
    Prepare(box, buttons);
    const Answer escape = answers.constLast().second;
    if (nextAnswers) {
        shown.append({box.windowTitle(), box.text()});
        const Answer next = nextAnswers->isEmpty() ? escape : nextAnswers->takeFirst();
        return std::ranges::any_of(answers, [next](const auto &button) { return button.second == next; }) ? next
                                                                                                          : escape;
    }
    box.exec();
    for (const auto &[button, answer] : answers)
        if (button == box.clickedButton())
            return answer;
    return escape;
}

} // namespace

bool MessageBoxes::Question(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    return Run(box, {{box.button(QMessageBox::Yes), Answer::Yes}, {box.button(QMessageBox::No), Answer::No}})
        == Answer::Yes;
}

Answer MessageBoxes::Choice(QWidget *parent, const QString &title, const QString &text, const QList<Button> &buttons)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    QList<std::pair<QAbstractButton *, Answer>> answers;
    // One role for all keeps them in the order given, whatever the platform's button order.
    for (const Button &button : buttons)
        answers.append({box.addButton(button.caption, QMessageBox::ActionRole), button.answer});
    return Run(box, answers);
}

namespace {

void Tell(QMessageBox::Icon icon, QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    Run(box, {{box.button(QMessageBox::Ok), Answer::Ok}});
}

} // namespace

void MessageBoxes::Error(QWidget *parent, const QString &title, const QString &text)
{
    Tell(QMessageBox::Critical, parent, title, text);
}

void MessageBoxes::Warning(QWidget *parent, const QString &title, const QString &text)
{
    Tell(QMessageBox::Warning, parent, title, text);
}

std::unique_ptr<QMessageBox> MessageBoxes::Note(QWidget *parent, const QString &title, const QString &text,
                                                const QString &button, const std::function<void()> &pressed)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    Prepare(*box, {box->addButton(button, QMessageBox::RejectRole)});
    QObject::connect(box.get(), &QDialog::finished, box.get(), pressed);
    box->show();
    return box;
}

void MessageBoxes::SetNextAnswers(const QList<Answer> &answers)
{
    nextAnswers = answers;
}

QList<MessageBoxes::Shown> MessageBoxes::TakeShown()
{
    return std::exchange(shown, {});
}

void MessageBoxes::ShowBoxes()
{
    nextAnswers.reset();
}
