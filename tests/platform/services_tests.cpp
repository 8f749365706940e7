// Previous-instance lock, shell, common dialog, pictures and the screen.
#include "platform/app.h"
#include "platform/comdlg.h"
#include "platform/pictures.h"
#include "platform/shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace platform;
using namespace Qt::StringLiterals;

namespace {

// Receives what the desktop would open; nothing is started.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        for (const auto* scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlCatcher() override {
        for (const auto* scheme : {"http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    std::vector<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

TEST(Shell, OpensWebAndMailAddressesAndKeepsWhatItWasGiven) {
    UrlCatcher catcher;
    clearShellExecuteCall();
    const QByteArray mail = u"mailto:a@b.example?subject=Swiftreel意见反馈"_s.toLocal8Bit();
    EXPECT_GT(ShellExecuteA(nullptr, "open", mail.constData(), "", "/opt", SW_SHOW), 32);
    ASSERT_EQ(catcher.opened.size(), 1u);
    EXPECT_EQ(catcher.opened[0].scheme(), u"mailto");
    EXPECT_EQ(QUrlQuery(catcher.opened[0]).queryItemValue(u"subject"_s, QUrl::FullyDecoded), u"Swiftreel意见反馈");
    ASSERT_TRUE(lastShellExecuteCall());
    EXPECT_EQ(lastShellExecuteCall()->directory, "/opt");
    EXPECT_EQ(lastShellExecuteCall()->showCommand, SW_SHOW);
    EXPECT_GT(ShellExecuteA(nullptr, "open", "https://x.example/a", "", "", SW_SHOWNORMAL), 32);
    EXPECT_EQ(catcher.opened.back(), QUrl(u"https://x.example/a"_s));
}

TEST(Shell, RefusesEverythingButWebAndMail) {
    UrlCatcher catcher;
    for (const char* file : {"file:///etc/passwd", "/usr/bin/xterm", "javascript:alert(1)", "ftp://x.example/"})
        EXPECT_LE(ShellExecuteA(nullptr, "open", file, "", "", SW_SHOW), 32) << file;
    EXPECT_TRUE(catcher.opened.empty());
}

TEST(CommonDialog, FilterBecomesTheDialogsNameFilters) {
    EXPECT_EQ(CommonDialog::nameFilters(u"*.swf|*.swf"_s), u"*.swf (*.swf)");
    EXPECT_EQ(CommonDialog::nameFilters(u"Movies|*.swf;*.spl|All|*.*"_s), u"Movies (*.swf *.spl);;All (*.*)");
}

void answerFileDialog(std::function<void(QFileDialog*)> answer) {
    auto* timer = new QTimer(qApp);
    auto* waited = new int(0);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, answer] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); dialog && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            delete waited;
            answer(dialog);
            // Watchdog: a dialog the answer did not close is closed here.
            QTimer::singleShot(3000, dialog, [dialog] { dialog->reject(); });
        } else if (++*waited > 250) {  // no dialog within five seconds
            timer->stop();
            timer->deleteLater();
            delete waited;
        }
    });
    timer->start(20);
}

TEST(CommonDialog, KeepsTheFileNameOnCancelAndTakesTheFullPathOnConfirm) {
    QTemporaryDir dir;
    const QString movie = dir.filePath(u"clip.swf"_s);
    QFile(movie).open(QIODevice::WriteOnly);
    CommonDialog cdg;
    cdg.Filter = u"*.swf|*.swf"_s;
    QStringList filters;
    answerFileDialog([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        dialog->reject();
    });
    EXPECT_FALSE(cdg.ShowOpen());
    EXPECT_EQ(cdg.FileName, u"");
    EXPECT_EQ(filters, QStringList{u"*.swf (*.swf)"_s});

    answerFileDialog([&](QFileDialog* dialog) {
        // Typed into the name field, as a person would.
        dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(movie);
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_TRUE(cdg.ShowOpen());
    EXPECT_EQ(cdg.FileName, movie);

    answerFileDialog([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_FALSE(cdg.ShowOpen());
    EXPECT_EQ(cdg.FileName, movie);
}

TEST(Pictures, CursorHotSpotsComeFromTheDirectoryEntry) {
    QByteArray cur(6 + 16, '\0');
    cur[2] = 2, cur[4] = 1;      // cursor, one image
    cur[6 + 4] = 12, cur[6 + 6] = 9;  // hot spot (12, 9)
    EXPECT_EQ(curHotSpot(cur), QPoint(12, 9));
    cur[2] = 1;  // an icon has no hot spot
    EXPECT_EQ(curHotSpot(cur), QPoint(0, 0));
    EXPECT_EQ(curHotSpot(QByteArray(5, '\0')), QPoint(0, 0));
}

TEST(Pictures, ColourWordsAreBlueGreenRed) {
    EXPECT_EQ(colorFromWord(0x00FF0000), QColor(0, 0, 255));
    EXPECT_EQ(colorFromWord(0x000000FF), QColor(255, 0, 0));
}

struct ScreenCase {
    int width, height;
    double dpi;
    float twipsPerPixel;
};
class ScreenTwips : public ::testing::TestWithParam<ScreenCase> {};
TEST_P(ScreenTwips, SizeInTwipsIsPixelsTimesTwipsPerPixel) {
    const auto& c = GetParam();
    Screen::overrideForTests(Screen::Metrics{c.width, c.height, c.dpi, c.dpi});
    EXPECT_FLOAT_EQ(Screen::TwipsPerPixelX(), c.twipsPerPixel);
    EXPECT_FLOAT_EQ(Screen::Width(), c.width * c.twipsPerPixel);
    EXPECT_FLOAT_EQ(Screen::Height(), c.height * c.twipsPerPixel);
    Screen::overrideForTests(std::nullopt);
}
INSTANTIATE_TEST_SUITE_P(Dpi, ScreenTwips,
                         ::testing::Values(ScreenCase{1024, 768, 96, 15}, ScreenCase{1024, 768, 120, 12},
                                           ScreenCase{1920, 1080, 144, 10}));

// The previous-instance test between processes: a helper holds the same
// kind of lock on the same file.
class InstanceLock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    QTemporaryDir runtime;
};

TEST_F(InstanceLock, ALiveHolderIsAPreviousInstanceAndAKilledOneIsNot) {
    const QString lockPath = App::instanceLockPath();
    EXPECT_TRUE(lockPath.startsWith(runtime.path()));
    QProcess holder;
    // A holder that takes the lock in its own process and forks nothing, so
    // that killing it leaves no child sharing the locked file.
    holder.start(u"/usr/bin/python3"_s,
                 {u"-c"_s,
                  u"import fcntl, sys, time\n"
                  "f = open(sys.argv[1], 'a')\n"
                  "fcntl.flock(f, fcntl.LOCK_EX)\n"
                  "time.sleep(20)"_s,
                  lockPath});
    ASSERT_TRUE(holder.waitForStarted());
    // Wait until the helper holds the lock.
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
        const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            ::close(fd);
        if (!held)
            QTest::qWait(10);
    }
    ASSERT_TRUE(held);
    EXPECT_TRUE(App::PrevInstance());
    ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
    holder.waitForFinished();
    EXPECT_TRUE(QFile::exists(lockPath));  // the file stays behind, its lock does not
    EXPECT_FALSE(App::PrevInstance());
    // This process now holds it: asking again does not count itself.
    EXPECT_FALSE(App::PrevInstance());
}

TEST(App, CommandJoinsTheArgumentsWithSingleSpacesAndKeepsEverythingElse) {
    App::setArguments({u"\"a movie.swf\""_s, u" b "_s});
    EXPECT_EQ(App::Command(), u"\"a movie.swf\"  b ");
    App::setArguments({});
    EXPECT_EQ(App::Command(), u"");
}

}  // namespace

#include "services_tests.moc"
