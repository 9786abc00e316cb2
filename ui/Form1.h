#pragma once

#include "KeywordMerge.h"
#include "KeywordStore.h"
#include "ShownKeywordList.h"
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
    static std::unique_ptr<Form1> Start(const Locations &locations);

    static QString Caption();
    // The question asked when someone else has changed the working copy since.
    static QString ChangedPrompt(const QString &path, const KeywordMerge::Changes &theirs);
    // Where a window of the given size, frame included, goes beside a window
    // on the screen: to its right, else to its left, below or above it, each
    // moved onto the screen where it sticks out; failing all of those, the
    // first of them that leaves the avoided part of the window uncovered.
    static QPoint PlaceBeside(const QRect &window, const QRect &avoid, const QSize &size, const QRect &screen, int gap);

    KeywordList &Keywords() { return m_keywords; }
    add *AddDialog() const { return m_add; }

private slots:
    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    void Command5_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    explicit Form1(const Locations &locations);
    void Report(const QString &error);
    OnChange AskAboutTheirChanges(const QString &path, const KeywordMerge::Changes &theirs);
    QPoint AddDialogPlace(const QSize &size) const;

    QGroupBox *Frame1;
    KeywordView *ListView1;
    QPushButton *Command1;
    QPushButton *Command2;
    QPushButton *Command4;
    QPushButton *Command5;
    KeywordStore m_store;
    ShownKeywordList m_keywords;
    QPointer<add> m_add;
    bool m_saving = false;
    bool m_closeWhenSaved = false;
};
