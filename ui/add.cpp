#include "add.h"

#include "MessageBoxes.h"
#include "Twips.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

add::add(std::function<QString(const QString &keyword)> refusal)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , Frame1(new QGroupBox(QStringLiteral("输入要过滤的字符"), this))
    , Text1(new QLineEdit(Frame1))
    , Command1(new QPushButton(QStringLiteral("确定(&O)"), this))
    , Command2(new QPushButton(QStringLiteral("取消(&C)"), this))
    , m_refusal(std::move(refusal))
{
    // No parent: if the main window is closed first, the program ends only
    // when this dialog closes too.
    setObjectName(QStringLiteral("add"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Caption());
    Twips::FixClientSize(this, 4275, 1425);

    Frame1->setObjectName(QStringLiteral("Frame1"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2->setObjectName(QStringLiteral("Command2"));

    Frame1->setGeometry(Twips::Rect(this, 120, 120, 2775, 1095));
    Text1->setGeometry(Twips::Rect(this, 120, 360, 2535, 375));
    Command1->setGeometry(Twips::Rect(this, 3120, 120, 975, 495));
    Command2->setGeometry(Twips::Rect(this, 3120, 720, 975, 495));

    // A keyword may be as long as the file can hold, not 32,767 characters.
    Text1->setMaxLength(std::numeric_limits<int>::max());
    // Enter presses a focused button, as on the desktop this tool comes from.
    // This is no QDialog, so there is no default button: Enter in the text
    // box still does nothing.
    Command1->setAutoDefault(true);
    Command2->setAutoDefault(true);

    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    Text1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &add::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &add::Command2_Click);
}

QString add::Caption()
{
    return QStringLiteral("添加URL过滤字符");
}

void add::Command1_Click()
{
    // Taken exactly as typed: no trimming, no check for empty or repeated text.
    const QString text = Text1->text();
    if (const QString refusal = m_refusal(text); !refusal.isEmpty()) {
        MessageBoxes::Error(this, Caption(), refusal);
        return;
    }
    emit KeywordEntered(text);
    close();
}

void add::Command2_Click()
{
    close();
}
