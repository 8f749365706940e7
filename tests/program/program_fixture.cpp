#include "program_fixture.h"

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QTest>

using namespace Qt::StringLiterals;

UrlCatcher::UrlCatcher() {
    for (const auto* scheme : {"http", "https", "mailto"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
}

UrlCatcher::~UrlCatcher() {
    for (const auto* scheme : {"http", "https", "mailto"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void ProgramTest::SetUp() {
    ASSERT_TRUE(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    // No bus: the notifier call fails at once.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/swiftreel-test-bus");
    platform::App::setEndForTests([] { throw ProgramEnded{}; });
    platform::clearShellExecuteCall();
    modMain::lpPrevWndProc = 0;
    modMain::LastBarButton = 0;
}

void ProgramTest::TearDown() {
    frmMenu::releaseInstance();
    frmMain::releaseInstance();
    platform::App::setEndForTests({});
    platform::App::releaseInstanceLock();
    platform::Screen::overrideForTests(std::nullopt);
    modMain::lpPrevWndProc = 0;
}

void ProgramTest::start(const QStringList& arguments) {
    platform::App::setArguments(arguments);
    modMain::Main();
    settle();
}

void ProgramTest::mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QWidget* client = main().clientArea();
    QMouseEvent event(type, at, client->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(client, &event);
}

void ProgramTest::settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QTest::qWait(10);
    }
}

void whenModalOpens(std::function<void(QWidget*)> action, const char* kind) {
    auto* poll = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [poll, clock, action, kind] {
        QWidget* modal = QApplication::activePopupWidget();
        if (!modal || (kind && !modal->inherits(kind)))
            modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && (!kind || modal->inherits(kind))) {
            poll->stop();
            poll->deleteLater();
            QPointer<QWidget> guard(modal);
            action(modal);
            QTimer::singleShot(3000, qApp, [guard] {
                if (!guard || !guard->isVisible())
                    return;
                if (auto* dialog = qobject_cast<QDialog*>(guard.data()))
                    dialog->reject();
                else
                    guard->close();
            });
            return;
        }
        if (clock->elapsed() > 5000) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(20);
}

std::shared_ptr<ShownMessageBox> captureNextMessageBox() {
    auto shown = std::make_shared<ShownMessageBox>();
    whenModalOpens([shown](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        shown->text = box->property("msgBoxText").toString();
        shown->title = box->windowTitle();
        shown->icon = box->icon();
        shown->buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    return shown;
}
