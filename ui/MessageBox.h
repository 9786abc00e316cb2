#pragma once

#include <QStringList>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

// Every message box of the program goes through here, so that the windows
// can be handed a stand-in for asking and telling in tests.
class MessageBox
{
public:
    // Stands for AskYesNo: true only when the user chose Yes.
    using Ask = std::function<bool(const QString &prompt, const QString &title)>;
    // Stands for ShowError.
    using Tell = std::function<void(const QString &title, const QString &text)>;
    // Stands for AskChoice: the position of the chosen answer.
    using Choose = std::function<int(const QString &prompt, const QString &title, const QStringList &answers)>;

    // The Yes/No question as it is shown: prompt, title, Yes and No labelled
    // as on Simplified Chinese systems, Yes the default, no icon, modal to
    // the whole program, and wide enough for the whole title.
    static std::unique_ptr<QMessageBox> CreateQuestion(QWidget *parent, const QString &prompt,
                                                       const QString &title);

    // True only when the user chose Yes; Esc or closing the box is No.
    static bool AskYesNo(QWidget *parent, const QString &prompt, const QString &title);

    // A question with several answers, in their order, the first the default
    // and the last what Esc or closing the box chooses; otherwise like the
    // Yes/No question.
    static std::unique_ptr<QMessageBox> CreateChoice(QWidget *parent, const QString &prompt, const QString &title,
                                                     const QStringList &answers);
    static int AskChoice(QWidget *parent, const QString &prompt, const QString &title, const QStringList &answers);

    static void ShowError(QWidget *parent, const QString &title, const QString &text);

    // How wide a window must be for a window manager to show the whole
    // title in its title bar, next to the window's icon and buttons.
    static int TitleBarWidth(const QString &title);
};
