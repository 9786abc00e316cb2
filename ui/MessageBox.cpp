#include "MessageBox.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

namespace {

// A message box sizes itself for its text and leaves the title bar to fend
// for itself, so window managers cut a title longer than the prompt. A row
// of the title bar's width under everything else keeps the box that wide.
void FitTitle(QMessageBox &box)
{
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(MessageBox::TitleBarWidth(box.windowTitle()), 0,
                                      QSizePolicy::Fixed, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

std::unique_ptr<QMessageBox> MessageBox::CreateQuestion(QWidget *parent, const QString &prompt,
                                                        const QString &title)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, prompt,
                                             QMessageBox::Yes | QMessageBox::No, parent);
    box->setWindowModality(Qt::ApplicationModal);
    box->button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
    box->button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    // Some styles decorate Yes and No with pictures; the question has none.
    box->button(QMessageBox::Yes)->setIcon(QIcon());
    box->button(QMessageBox::No)->setIcon(QIcon());
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    FitTitle(*box);
    return box;
}

bool MessageBox::AskYesNo(QWidget *parent, const QString &prompt, const QString &title)
{
    const auto box = CreateQuestion(parent, prompt, title);
    box->exec();
    return box->clickedButton() == box->button(QMessageBox::Yes);
}

std::unique_ptr<QMessageBox> MessageBox::CreateChoice(QWidget *parent, const QString &prompt, const QString &title,
                                                      const QStringList &answers)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, prompt, QMessageBox::NoButton, parent);
    box->setWindowModality(Qt::ApplicationModal);
    // One role for all keeps them in the order given, whatever the platform's button order.
    for (const QString &answer : answers)
        box->addButton(answer, QMessageBox::ActionRole);
    const QList<QAbstractButton *> buttons = box->buttons();
    box->setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    box->setEscapeButton(buttons.last());
    FitTitle(*box);
    return box;
}

int MessageBox::AskChoice(QWidget *parent, const QString &prompt, const QString &title, const QStringList &answers)
{
    const auto box = CreateChoice(parent, prompt, title, answers);
    box->exec();
    const qsizetype chosen = box->buttons().indexOf(box->clickedButton());
    return int(chosen < 0 ? answers.size() - 1 : chosen);
}

void MessageBox::ShowError(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    FitTitle(box);
    box.exec();
}

int MessageBox::TitleBarWidth(const QString &title)
{
    // Window managers draw titles in bold, mostly in the desktop's own font,
    // and put the window's icon and up to three buttons beside the title,
    // each about a line high, with some space around them.
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + 6 * metrics.height();
}
