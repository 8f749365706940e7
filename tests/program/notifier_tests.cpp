// The notifier call on a private session bus. Each case runs the call in a
// child process (this test binary, asked by an environment variable), so
// that every case gets its own bus connection.
#include "startup/modMain.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

constexpr char kProbeVariable[] = "SWIFTREEL_NOTIFY_PROBE";

// In the child: time one SendNotify, print it, keep the process alive a
// moment so that a sent call leaves, and end.
[[maybe_unused]] const bool kProbe = [] {
    if (!std::getenv(kProbeVariable))
        return false;
    int argc = 1;
    char name[] = "notify_probe";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QElapsedTimer clock;
    clock.start();
    modMain::SendNotify();
    const qint64 elapsed = clock.elapsed();
    std::printf("elapsed_ms=%lld\n", static_cast<long long>(elapsed));
    std::fflush(stdout);
    QTest::qWait(300);
    std::_Exit(0);
}();

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "OrvelNotify.CNotify")
public:
    QStringList calls;
public slots:
    Q_SCRIPTABLE void Notify(const QString& program, const QString& information) {
        calls << program + u'|' + information;
    }
};

// An object that owns the name but has no Notify method.
class Mute : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "OrvelNotify.CNotify")
};

class Notifier : public ::testing::Test {
protected:
    void SetUp() override {
        daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        ASSERT_TRUE(daemon.waitForStarted(5000));
        ASSERT_TRUE(daemon.waitForReadyRead(5000));
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(u"service"_s);
        daemon.kill();
        daemon.waitForFinished();
    }
    QDBusConnection serviceConnection() { return QDBusConnection::connectToBus(address, u"service"_s); }

    // Runs the call in a child on `busAddress`; returns its own timing.
    qint64 probe(const QString& busAddress) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kProbeVariable), u"1"_s);
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
        env.remove(u"DISPLAY"_s);  // no bus may be started for it
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        EXPECT_TRUE(child.waitForStarted(5000));
        QElapsedTimer clock;
        clock.start();
        while (child.state() != QProcess::NotRunning && clock.elapsed() < 10000) {
            QCoreApplication::processEvents();  // lets the service answer
            child.waitForFinished(10);
        }
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0);
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        const auto at = out.indexOf(u"elapsed_ms="_s);
        EXPECT_GE(at, 0) << out.toStdString();
        return at < 0 ? -1 : out.mid(at + 11).trimmed().toLongLong();
    }

    QProcess daemon;
    QString address;
};

TEST_F(Notifier, CallsNotifyWithTheTwoStrings) {
    QDBusConnection bus = serviceConnection();
    ASSERT_TRUE(bus.isConnected());
    Recorder recorder;
    ASSERT_TRUE(bus.registerObject(u"/"_s, &recorder, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService(u"OrvelNotify.CNotify"_s));
    const qint64 elapsed = probe(address);
    for (int i = 0; i < 100 && recorder.calls.isEmpty(); ++i)
        QTest::qWait(10);
    EXPECT_EQ(recorder.calls, QStringList{u"swiftreel|Other information,Not used."_s});
    EXPECT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 500);
}

TEST_F(Notifier, IsSilentAndQuickWithoutTheService) {
    const qint64 elapsed = probe(address);
    EXPECT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 500);
}

TEST_F(Notifier, IsSilentAndQuickWhenTheServiceHasNoNotify) {
    QDBusConnection bus = serviceConnection();
    Mute mute;
    ASSERT_TRUE(bus.registerObject(u"/"_s, &mute, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(u"OrvelNotify.CNotify"_s));
    const qint64 elapsed = probe(address);
    EXPECT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 500);
}

TEST_F(Notifier, IsSilentAndQuickWhenTheBusNeverAnswers) {
    // A socket that takes connections into its queue and never reads them:
    // a hung bus daemon.
    QTemporaryDir dir;
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(dir.filePath(u"bus"_s)));
    const qint64 elapsed = probe(u"unix:path="_s + dir.filePath(u"bus"_s));
    EXPECT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 500);
}

TEST_F(Notifier, IsSilentAndQuickWithoutABus) {
    const qint64 elapsed = probe(u"unix:path=/nonexistent/swiftreel-no-bus"_s);
    EXPECT_GE(elapsed, 0);
    EXPECT_LT(elapsed, 500);
}

}  // namespace

#include "notifier_tests.moc"
