// The process entry: sets up the application and runs the start-up routine.
#include "commands/frmMenu.h"
#include "mainwindow/frmMain.h"
#include "platform/app.h"
#include "startup/modMain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdlib>

namespace {
// The program reports nothing: Qt's own messages (a missing sound server, a
// runtime folder warning) are dropped unless SWIFTREEL_DEBUG asks for them.
void quietMessages(QtMsgType, const QMessageLogContext&, const QString&) {}
}

int main(int argc, char** argv) {
    if (!std::getenv("SWIFTREEL_DEBUG"))
        qInstallMessageHandler(quietMessages);
    QApplication app(argc, argv);
    // Every text of the program is Simplified Chinese; Qt's own dialogs and
    // buttons (the file dialog, OK) follow.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    QApplication::setApplicationName(QStringLiteral("Swiftreel"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QApplication::setOrganizationDomain(QStringLiteral("tarnwick.com"));
    QApplication::setDesktopFileName(QStringLiteral("com.tarnwick.Swiftreel"));
    QApplication::setQuitOnLastWindowClosed(false);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    platform::App::setArguments(arguments);

    modMain::Main();
    const int result = QApplication::exec();
    frmMenu::releaseInstance();
    frmMain::releaseInstance();
    return result;
}
