#pragma once

#include "MessageBox.h"

#include <QWidget>

class QGroupBox;
class QLineEdit;
class QPushButton;

// The add-keyword dialog. It does not block the main window, keeps nothing
// between openings (it is deleted when closed), and has no default button:
// Enter presses only a focused button, Esc does nothing.
class add : public QWidget
{
    Q_OBJECT

public:
    explicit add(MessageBox::Tell tell);

    static QString Caption();
    // Why a keyword typed or pasted by the user cannot be taken, in the words
    // the user sees; empty when it can.
    static QString Refusal(const QString &keyword);

signals:
    void keywordEntered(const QString &keyword);

private slots:
    void Command1_Click();
    void Command2_Click();

private:
    QGroupBox *Frame1;
    QLineEdit *Text1;
    QPushButton *Command1;
    QPushButton *Command2;
    MessageBox::Tell m_tell;
};
