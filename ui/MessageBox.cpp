#include "MessageBox.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

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
    return box;
}

bool MessageBox::AskYesNo(QWidget *parent, const QString &prompt, const QString &title)
{
    const auto box = CreateQuestion(parent, prompt, title);
    box->exec();
    return box->clickedButton() == box->button(QMessageBox::Yes);
}

void MessageBox::ShowError(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}
