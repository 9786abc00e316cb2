#pragma once

#include "KeywordList.h"
#include "KeywordMerge.h"
#include "LastSeen.h"
#include "Locations.h"
#include "MessageBox.h"
#include "add.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class KeywordView;
class QGroupBox;
class QPushButton;

// The main window: shows the keyword list and offers Add, Delete, Restore
// defaults and Save.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    // Runs the start-up sequence and returns the window ready to be shown,
    // or tells the failure and returns nothing.
    static std::unique_ptr<Form1> Start(const Locations &locations, MessageBox::Ask ask,
                                        MessageBox::Tell tell, MessageBox::Choose choose);

    static QString Caption();
    // The question asked when someone else has changed the working copy since.
    static QString ChangedPrompt(const QString &path, const KeywordMerge::Changes &theirs);

    KeywordList &Keywords() { return m_keywords; }
    add *AddDialog() const { return m_add; }

private slots:
    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    void Command5_Click();

private:
    Form1(const Locations &locations, MessageBox::Ask ask, MessageBox::Tell tell, MessageBox::Choose choose);
    void report(const QString &error);
    QPoint placeForAddDialog(const QSize &size) const;

    QGroupBox *Frame1;
    KeywordView *ListView1;
    QPushButton *Command1;
    QPushButton *Command2;
    QPushButton *Command4;
    QPushButton *Command5;
    const Locations m_locations;
    MessageBox::Ask m_ask;
    MessageBox::Tell m_tell;
    MessageBox::Choose m_choose;
    KeywordList m_keywords;
    LastSeen m_seen;
    QPointer<add> m_add;
};
