// The process entry: sets up the application and runs the start-up routine.
#include "commands/frmMenu.h"
#include "mainwindow/frmMain.h"
#include "platform/app.h"
#include "startup/modMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
