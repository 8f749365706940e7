#pragma once
// A private X desktop for one test: its own Xvfb and openbox, and the real
// swiftreel binary started on it with its own runtime and home folders.
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class Desktop {
public:
    Desktop();
    ~Desktop();
    bool ready() const { return m_ready; }
    const QString& display() const { return m_display; }
    // Where the program keeps its data (XDG_DATA_HOME).
    QString dataHome() const { return m_home.filePath(QStringLiteral("data")); }

    // Runs a command on this desktop and returns its standard output.
    QString run(const QString& program, const QStringList& arguments, int timeoutMs = 5000);
    // Starts the program with these arguments.
    std::unique_ptr<QProcess> startProgram(const QStringList& arguments = {});
    // Polls for a visible window whose name matches; empty when none appears.
    QString waitForWindow(const QString& namePattern, int timeoutMs = 8000);
    bool waitForNoWindow(const QString& namePattern, int timeoutMs = 5000);
    QRect geometry(const QString& window);
    // The geometry once it stops changing (a resize still being applied), or after `timeoutMs`.
    QRect settledGeometry(const QString& window, int timeoutMs = 3000);
    QString property(const QString& window, const QString& name);
    QImage screenshot(const QString& saveAs = {});

    // Pointer and keys (xdotool).
    void moveTo(QPoint at);
    void click(QPoint at, int button = 1);
    void drag(QPoint from, QPoint to);
    void key(const QString& keys);

    static void pause(int ms);

private:
    QProcessEnvironment environment() const;
    QTemporaryDir m_home;
    QTemporaryDir m_runtime;
    QProcess m_xvfb;
    QProcess m_wm;
    QString m_display;
    bool m_ready = false;
};
