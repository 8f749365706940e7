// The process entry: sets up the application and runs the start-up routine.
#include "commands/frmMenu.h"
#include "mainwindow/frmMain.h"
#include "platform/app.h"
#include "platform/com.h"
#include "startup/modMain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

namespace {

bool g_applicationReady = false;

// The one thing the program says: that it cannot show its window at all.
[[noreturn]] void noDisplay() {
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "swiftreel: cannot open the display%s%s: no X server to show the window on\n",
                 display && *display ? " " : "", display && *display ? display : "");
    std::_Exit(1);
}

// The program reports nothing: Qt's own messages (a missing sound server, a
// runtime folder warning) are dropped unless SWIFTREEL_DEBUG asks for them.
// A fatal message before the application exists means no display could be
// opened: Qt would abort silently.
QtMessageHandler g_qtHandler = nullptr;
void messages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg && !g_applicationReady)
        noDisplay();
    if (std::getenv("SWIFTREEL_DEBUG") && g_qtHandler)
        g_qtHandler(type, context, text);
}

bool displayNamed() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
    g_qtHandler = qInstallMessageHandler(messages);
    if (!displayNamed())
        noDisplay();
    // A session bus that accepts and never answers would hold Qt's start-up
    // (and every later call) for 25 s: such a bus is left out.
    if (!platform::SessionBusAnswers())
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/dev/null/unanswering-session-bus");
    QApplication app(argc, argv);
    g_applicationReady = true;
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
