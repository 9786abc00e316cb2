#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class QMessageBox;
class QWidget;

// Every message box of the program, each given its parent, title and text in
// that order. Each is modal to the whole program, shows its text as plain
// text, and is wide enough for its whole title; its first button is the
// default and its last is what Esc or closing the box chooses.
class MessageBoxes
{
public:
    // Every answer a box of the program offers.
    enum class Answer { Yes, No, Merge, Overwrite, Cancel, Ok };
    struct Button
    {
        Answer answer;
        QString caption;
    };

    // Yes and No labelled as on Simplified Chinese systems, and no icon; true
    // only when the user chose Yes.
    static bool Question(QWidget *parent, const QString &title, const QString &text);
    // A question with these buttons, in their order, and no icon.
    static Answer Choice(QWidget *parent, const QString &title, const QString &text, const QList<Button> &buttons);
    static void Error(QWidget *parent, const QString &title, const QString &text);
    // What the user should know of something that went through.
    static void Warning(QWidget *parent, const QString &title, const QString &text);
    // A note that stays up while something takes its time, until it is
    // deleted, with one button; the button, Esc, or closing the note calls
    // pressed, and the note goes. It asks nothing, so it is shown even while
    // tests give the answers.
    static std::unique_ptr<QMessageBox> Note(QWidget *parent, const QString &title, const QString &text,
                                             const QString &button, const std::function<void()> &pressed);

    // For tests: from now on no box is shown. Each is kept, as its title and
    // text, for TakeShown(), and takes the next of these answers, or the one
    // Esc gives when none is left (or when the box has no such button).
    // ShowBoxes() shows them again.
    using Shown = std::pair<QString, QString>;
    static void SetNextAnswers(const QList<Answer> &answers);
    static QList<Shown> TakeShown();
    static void ShowBoxes();
};
