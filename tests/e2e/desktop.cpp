#include "desktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

using namespace Qt::StringLiterals;

Desktop::Desktop() {
    if (!m_home.isValid() || !m_runtime.isValid())
        return;
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Xvfb picks a free display and writes its number to the given descriptor
    // (1: its standard output).
    m_xvfb.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1280x1024x24"_s, u"-nolisten"_s,
                              u"tcp"_s});
    if (!m_xvfb.waitForStarted(5000) || !m_xvfb.waitForReadyRead(10000))
        return;
    m_display = u":"_s + QString::fromLatin1(m_xvfb.readLine()).trimmed();
    m_wm.setProcessEnvironment(environment());
    m_wm.start(u"openbox"_s, {});
    if (!m_wm.waitForStarted(5000))
        return;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (run(u"xprop"_s, {u"-root"_s, u"_NET_SUPPORTING_WM_CHECK"_s}).contains(u"window id"_s)) {
            m_ready = true;
            return;
        }
        pause(100);
    }
}

Desktop::~Desktop() {
    m_wm.kill();
    m_wm.waitForFinished(3000);
    m_xvfb.kill();
    m_xvfb.waitForFinished(3000);
}

QProcessEnvironment Desktop::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DISPLAY"_s, m_display);
    env.insert(u"HOME"_s, m_home.path());
    env.insert(u"XDG_CONFIG_HOME"_s, m_home.filePath(u"config"_s));
    env.insert(u"XDG_CACHE_HOME"_s, m_home.filePath(u"cache"_s));
    env.insert(u"XDG_DATA_HOME"_s, m_home.filePath(u"data"_s));
    env.insert(u"XDG_RUNTIME_DIR"_s, m_runtime.path());
    // No notifier on this desktop, and no sound server needed.
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/swiftreel-e2e-bus"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    return env;
}

QString Desktop::run(const QString& program, const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::unique_ptr<QProcess> Desktop::startProgram(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(SWIFTREEL_BINARY_DIR "/startup/swiftreel"), arguments);
    process->waitForStarted(5000);
    return process;
}

QString Desktop::waitForWindow(const QString& namePattern, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const QStringList ids =
            run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, namePattern}).split(u'\n', Qt::SkipEmptyParts);
        if (!ids.isEmpty())
            return ids.constLast().trimmed();
        pause(100);
    }
    return {};
}

bool Desktop::waitForNoWindow(const QString& namePattern, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, namePattern}).trimmed().isEmpty())
            return true;
        pause(100);
    }
    return false;
}

QRect Desktop::settledGeometry(const QString& window, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QRect last = geometry(window);
    while (clock.elapsed() < timeoutMs) {
        pause(150);
        const QRect now = geometry(window);
        if (now == last) return now;
        last = now;
    }
    return last;
}

QRect Desktop::geometry(const QString& window) {
    const QString out = run(u"xdotool"_s, {u"getwindowgeometry"_s, u"--shell"_s, window});
    QRect rect;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
        const auto parts = line.split(u'=');
        if (parts.size() != 2)
            continue;
        const int value = parts[1].toInt();
        if (parts[0] == u"X")
            rect.moveLeft(value);
        else if (parts[0] == u"Y")
            rect.moveTop(value);
        else if (parts[0] == u"WIDTH")
            rect.setWidth(value);
        else if (parts[0] == u"HEIGHT")
            rect.setHeight(value);
    }
    return rect;
}

QString Desktop::property(const QString& window, const QString& name) {
    return run(u"xprop"_s, {u"-id"_s, window, name}).trimmed();
}

QImage Desktop::screenshot(const QString& saveAs) {
    QTemporaryDir dir;
    const QString path = saveAs.isEmpty() ? dir.filePath(u"shot.png"_s) : saveAs;
    run(u"import"_s, {u"-window"_s, u"root"_s, path}, 15000);
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

void Desktop::moveTo(QPoint at) {
    run(u"xdotool"_s, {u"mousemove"_s, QString::number(at.x()), QString::number(at.y())});
}

void Desktop::click(QPoint at, int button) {
    moveTo(at);
    run(u"xdotool"_s, {u"click"_s, QString::number(button)});
}

void Desktop::drag(QPoint from, QPoint to) {
    moveTo(from);
    run(u"xdotool"_s, {u"mousedown"_s, u"1"_s});
    pause(100);
    const QPoint mid = (from + to) / 2;
    for (QPoint step : {from + QPoint(8, 8), mid, to}) {
        moveTo(step);
        pause(100);
    }
    run(u"xdotool"_s, {u"mouseup"_s, u"1"_s});
    pause(300);
}

void Desktop::key(const QString& keys) { run(u"xdotool"_s, {u"key"_s, keys}); }

void Desktop::pause(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}
