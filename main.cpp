#include "Form1.h"
#include "Locations.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QScreen>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantrel-filter.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.vantrel.filter"));

    // Qt's own texts (a text box's context menu) in the interface's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);

    const auto window = Form1::Start(Locations::ForProgramDirectory(QCoreApplication::applicationDirPath()));
    if (!window)
        return 1;
    window->move(window->screen()->availableGeometry().center() - window->rect().center());
    window->show();
    return app.exec();
}
