#pragma once

#include <QWidget>

#include <functional>

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
    // refusal tells why the list could not take a keyword, or nothing.
    explicit add(std::function<QString(const QString &keyword)> refusal);

    static QString Caption();

signals:
    void KeywordEntered(const QString &keyword);

private slots:
    void Command1_Click();
    void Command2_Click();

private:
    QGroupBox *Frame1;
    QLineEdit *Text1;
    QPushButton *Command1;
    QPushButton *Command2;
    std::function<QString(const QString &)> m_refusal;
};
