// Start-up and the notifier call of modMain.
#include "startup/modMain.h"

#include "mainwindow/frmMain.h"
#include "platform/app.h"
#include "platform/com.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace modMain {

void Main() {
    const QString strCmd = platform::App::Command();
    frmMain& window = frmMain::instance();
    // Closing the window through the desktop unloads it and ends the program.
    QObject::connect(&window, &platform::Form::unloaded, QCoreApplication::instance(), &QCoreApplication::quit);
    // Exit ends the process at once: the movie closes first, so that what it
    // stored is written.
    platform::App::setBeforeEnd([] { frmMain::instance().swf->closeMovie(); });
    if (strCmd == u""_s) {
        window.Show();
        return;
    }
    window.Show();
    window.swf->putMovie(strCmd);
}

void SendNotify() {
    const auto objNotify = platform::CreateObject(u"OrvelNotify.CNotify"_s);
    if (!objNotify)
        return;
    if (!objNotify->Invoke(u"Notify"_s, {u"swiftreel"_s, u"Other information,Not used."_s}))
        return;
}

}  // namespace modMain
