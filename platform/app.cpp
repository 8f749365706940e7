#include "platform/app.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>

#include <cstdio>
#include <utility>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace platform {

namespace {
std::optional<Screen::Metrics>& screenOverride() {
    static std::optional<Screen::Metrics> metrics;
    return metrics;
}

Screen::Metrics currentMetrics() {
    if (screenOverride())
        return *screenOverride();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {0, 0, 96.0, 96.0};
    const QRect geometry = screen->geometry();
    return {geometry.width(), geometry.height(), screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()};
}

constexpr float kTwipsPerInch = 1440.0f;
}  // namespace

namespace Screen {
float TwipsPerPixelX() { return kTwipsPerInch / static_cast<float>(currentMetrics().dpiX); }
float TwipsPerPixelY() { return kTwipsPerInch / static_cast<float>(currentMetrics().dpiY); }
float Width() { return static_cast<float>(currentMetrics().widthPixels) * TwipsPerPixelX(); }
float Height() { return static_cast<float>(currentMetrics().heightPixels) * TwipsPerPixelY(); }
void overrideForTests(std::optional<Metrics> metrics) { screenOverride() = metrics; }
}  // namespace Screen

namespace App {
namespace {
QString& argumentText() {
    static QString text;
    return text;
}
std::function<void()>& endForTests() {
    static std::function<void()> end;
    return end;
}
std::function<void()>& beforeEnd() {
    static std::function<void()> work;
    return work;
}
int& lockDescriptor() {
    static int fd = -1;
    return fd;
}
}  // namespace

QString instanceLockPath() {
    // The runtime folder is private to the user; without one, the temporary
    // folder with the user id in the name.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists())
        return QString::fromLocal8Bit(runtime) + u"/swiftreel.instance.lock"_s;
    return QDir::tempPath() + u"/swiftreel-"_s + QString::number(::getuid()) + u".instance.lock"_s;
}

bool PrevInstance() {
    if (lockDescriptor() >= 0)
        return false;
    const QByteArray path = QFile::encodeName(instanceLockPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;  // cannot tell: let this one run
    // flock belongs to the open file: the kernel releases it when the
    // process ends, even by SIGKILL, so no stale lock can remain.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return true;
    }
    lockDescriptor() = fd;
    return false;
}

void releaseInstanceLock() {
    if (lockDescriptor() >= 0)
        ::close(lockDescriptor());
    lockDescriptor() = -1;
}

QString Path() { return QCoreApplication::applicationDirPath(); }

void setArguments(const QStringList& argumentsAfterProgramName) {
    argumentText() = argumentsAfterProgramName.join(u' ');
}
QString Command() { return argumentText(); }

void End() {
    // Taken out first: work that ends the process again runs once.
    if (auto work = std::exchange(beforeEnd(), nullptr))
        work();
    if (endForTests())
        endForTests()();
    std::fflush(nullptr);
    ::_exit(0);
}

void setEndForTests(std::function<void()> end) { endForTests() = std::move(end); }
void setBeforeEnd(std::function<void()> work) { beforeEnd() = std::move(work); }
}  // namespace App

int MsgBox(const QString& prompt, int buttons, const QString& title) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setProperty("msgBoxText", prompt);
    // The box shows lines split at CR LF as well as LF.
    QString shown = prompt;
    shown.replace(u"\r\n"_s, u"\n"_s);
    box.setTextFormat(Qt::PlainText);
    box.setText(shown);
    switch (buttons & 0x70) {
    case vbCritical: box.setIcon(QMessageBox::Critical); break;
    case vbQuestion: box.setIcon(QMessageBox::Question); break;
    case vbExclamation: box.setIcon(QMessageBox::Warning); break;
    case vbInformation: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    switch (buttons & 0x7) {
    case vbOKCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case vbYesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
    case QMessageBox::Cancel: return vbCancel;
    case QMessageBox::Yes: return vbYes;
    case QMessageBox::No: return vbNo;
    default: return vbOK;
    }
}

}  // namespace platform
