#pragma once

#include <QStringList>

#include <utility>

class QWidget;

// Every message box of the program, each given its parent, title and text in
// that order. Each is modal to the whole program, shows its text as plain
// text, and is wide enough for its whole title; its first button is the
// default and its last is what Esc or closing the box chooses.
class MessageBox
{
public:
    // A question's answers, in their order.
    enum Answer : int { Yes, No };

    // Yes and No labelled as on Simplified Chinese systems, and no icon; true
    // only when the user chose Yes.
    static bool Question(QWidget *parent, const QString &title, const QString &text);
    // A question with these answers, in their order, and no icon; the
    // position of the one chosen.
    static int Choice(QWidget *parent, const QString &title, const QString &text, const QStringList &answers);
    static void Error(QWidget *parent, const QString &title, const QString &text);

    // For tests: from now on no box is shown. Each is kept, as its title and
    // text, for TakeShown(), and takes the next of these answers (the
    // position of a button, as above), or the one Esc gives when none is
    // left. ShowBoxes() shows them again.
    using Shown = std::pair<QString, QString>;
    static void SetNextAnswers(const QList<int> &answers);
    static QList<Shown> TakeShown();
    static void ShowBoxes();
};
