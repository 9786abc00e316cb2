#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

// Every message box of the program goes through here, so that the windows
// can be handed a stand-in for asking and telling in tests.
class MessageBox
{
public:
    // The Yes/No question as it is shown: prompt, title, Yes and No labelled
    // as on Simplified Chinese systems, Yes the default, no icon, modal to
    // the whole program.
    static std::unique_ptr<QMessageBox> CreateQuestion(QWidget *parent, const QString &prompt,
                                                       const QString &title);

    // True only when the user chose Yes; Esc or closing the box is No.
    static bool AskYesNo(QWidget *parent, const QString &prompt, const QString &title);

    static void ShowError(QWidget *parent, const QString &title, const QString &text);
};
