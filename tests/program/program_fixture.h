#pragma once
// A fresh program for each test: its own runtime folder (so the instance
// lock is ours), no session bus, the shell caught, and the ending of the
// program turned into an exception the test can catch.
#include "commands/frmMenu.h"
#include "mainwindow/frmMain.h"
#include "platform/app.h"
#include "platform/shell.h"
#include "startup/modMain.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

struct ProgramEnded {};

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher();
    ~UrlCatcher() override;
    std::vector<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the program as the entry point does, with these arguments.
    void start(const QStringList& arguments = {});
    frmMain& main() { return frmMain::instance(); }
    // Sends a mouse event to the client area at a client point.
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons);
    void moveTo(QPointF at) { mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton); }
    void press(QPointF at, Qt::MouseButton button) {
        mouse(QEvent::MouseButtonPress, at, button, button);
        mouse(QEvent::MouseButtonRelease, at, button, Qt::NoButton);
    }
    static QPointF centreOf(const platform::WindowlessControl& control) { return control.rect().center(); }
    // Lets pending window-state and geometry changes arrive.
    static void settle();

    QTemporaryDir runtime;
    UrlCatcher urls;
};

// Runs `action` on the first popup or modal window that opens; a watchdog
// rejects whatever is left open after a few seconds. With `kind`, only a
// window of that class counts.
void whenModalOpens(std::function<void(QWidget*)> action, const char* kind = nullptr);

// What the next message box showed; it is closed with OK once read.
struct ShownMessageBox {
    QString text, title;
    QMessageBox::Icon icon{};
    QMessageBox::StandardButtons buttons{};
};
// The returned record is filled when the box opens; keep it alive until then.
std::shared_ptr<ShownMessageBox> captureNextMessageBox();
