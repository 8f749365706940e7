// The popup menu and its commands.
#include "program_fixture.h"
#include "tests/support/swf_writer.h"

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace platform;

namespace {

class Commands : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        start();
    }
    struct Shown {
        QStringList texts;  // "-" for a separator
        QStringList disabled;
    };
    // Opens the popup through `open`, records it, then types `key` (or Esc).
    Shown popup(std::function<void()> open, Qt::Key key = Qt::Key_Escape) {
        Shown shown;
        whenModalOpens([&shown, key](QWidget* widget) {
            auto* menu = qobject_cast<QMenu*>(widget);
            ASSERT_NE(menu, nullptr);
            for (QAction* action : menu->actions()) {
                shown.texts << (action->isSeparator() ? u"-"_s : action->text());
                if (!action->isEnabled())
                    shown.disabled << action->objectName();
            }
            QTest::keyClick(menu, key);
        }, "QMenu");
        open();
        return shown;
    }
    // Answers the File Open dialog: a path to confirm, or empty to cancel.
    void answerOpen(const QString& path, QStringList* filters = nullptr) {
        whenModalOpens([path, filters](QWidget* widget) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            ASSERT_NE(dialog, nullptr);
            if (filters)
                *filters = dialog->nameFilters();
            if (path.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        }, "QFileDialog");
    }
    QString movieFile(const QString& name) {
        const QString path = runtime.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        return path;
    }
};

TEST_F(Commands, TheMenuDefinitionHoldsTwentyTwoItemsInOrder) {
    const auto def = frmMenu::definition();
    ASSERT_EQ(def.size(), 22u);
    EXPECT_EQ(QString::fromUtf16(def[0].name), u"mnuFile");
    EXPECT_EQ(def[0].level, 0);
    int separators = 0;
    for (std::size_t i = 1; i < def.size(); ++i) {
        EXPECT_EQ(def[i].level, 1);
        EXPECT_FALSE(def[i].checked);
        if (QString::fromUtf16(def[i].caption) == u"-") {
            ++separators;
            EXPECT_TRUE(QString::fromUtf16(def[i].name).startsWith(u"mnuLine"));
        }
    }
    EXPECT_EQ(separators, 6);
}

TEST_F(Commands, TheIconAndTheCaptionOpenTheSameMenuWithItsShortcutTexts) {
    EXPECT_FALSE(frmMenu::exists());
    const Shown byIcon = popup([&] { main().ImaIcon_Click(); });
    const QStringList expected{
        u"打开(&O)"_s, u"-"_s, u"播放(&P)"_s, u"暂停(&U)"_s, u"-"_s, u"上一帧\tCtrl+B"_s, u"下一帧\tCtrl+F"_s, u"-"_s,
        u"放大\tCtrl+O"_s, u"缩小\tCtrl+I"_s, u"全屏(&F)"_s, u"-"_s, u"关于(&A)"_s, u"意见反馈"_s, u"软件主页"_s, u"-"_s,
        u"Tarnwick动画网"_s, u"Tarnwick浏览器"_s, u"Tarnwick精灵(软件大厅)"_s, u"-"_s, u"退出(&X)"_s};
    EXPECT_EQ(byIcon.texts, expected);
    EXPECT_EQ(byIcon.disabled, QStringList{u"mnuNetTarnwick"_s});
    // The menu window is loaded at the first popup and never shown.
    ASSERT_TRUE(frmMenu::exists());
    EXPECT_TRUE(frmMenu::instance().isLoaded());
    EXPECT_FALSE(frmMenu::instance().isVisible());
    EXPECT_EQ(frmMenu::instance().Caption(), u"菜单");
    const Shown byCaption = popup([&] { main().lblCption_Click(); });
    EXPECT_EQ(byCaption.texts, expected);
}

TEST_F(Commands, AClickOnTheCaptionLabelOpensTheMenu) {
    const Shown shown = popup([&] { press(centreOf(*main().lblCption), Qt::LeftButton); });
    EXPECT_EQ(shown.texts.size(), 21);
}

TEST_F(Commands, AccessKeyFChoosesFullScreen) {
    popup([&] { main().ImaIcon_Click(); }, Qt::Key_F);
    settle();
    EXPECT_EQ(main().WindowState(), vbMaximized);
    EXPECT_EQ(main().ImaMax->ToolTipText(), u"最大化");
}

TEST_F(Commands, AccessKeyOChoosesOpen) {
    QStringList filters;
    answerOpen(QString(), &filters);  // the dialog opened by the key is cancelled
    popup([&] { main().ImaIcon_Click(); }, Qt::Key_O);
    EXPECT_EQ(filters, QStringList{u"*.swf (*.swf)"_s});
}

TEST_F(Commands, ShortcutKeysDoNothingWithThePopupClosed) {
    frmMain& f = main();
    f.swf->putMovie(u"/movies/a.swf"_s);
    int modals = 0;
    whenModalOpens([&](QWidget*) { ++modals; });
    for (Qt::Key key : {Qt::Key_B, Qt::Key_F, Qt::Key_O, Qt::Key_I})
        QTest::keyClick(f.swf.widget(), key, Qt::ControlModifier);
    settle();
    EXPECT_EQ(modals, 0);
    EXPECT_EQ(f.WindowState(), vbNormal);
    EXPECT_EQ(f.swf->movie(), u"/movies/a.swf");
    EXPECT_FALSE(lastShellExecuteCall());
}

TEST_F(Commands, ShortcutKeysDoNothingWithThePopupOpen) {
    frmMain& f = main();
    f.swf->putMovie(u"/movies/a.swf"_s);
    bool stillOpen = true;
    int chosen = 0;
    for (auto* item : frmMenu::instance().menu().childrenOf(frmMenu::instance().mnuFile()))
        if (item->Click)
            item->Click = [&chosen] { ++chosen; };
    whenModalOpens(
        [&](QWidget* menu) {
            for (Qt::Key key : {Qt::Key_B, Qt::Key_F, Qt::Key_O, Qt::Key_I})
                QTest::keyClick(menu, key, Qt::ControlModifier);
            stillOpen = menu->isVisible();
            QTest::keyClick(menu, Qt::Key_Escape);
        },
        "QMenu");
    f.ImaIcon_Click();
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(chosen, 0);
}

TEST_F(Commands, OpenPutsTheConfirmedFullPathOnly) {
    frmMain& f = main();
    const QString path = movieFile(u"first movie.swf"_s);
    f.swf->putPlaying(false);
    answerOpen(path);
    frmMenu::instance().mnuOpen_Click();
    EXPECT_EQ(f.swf->movie(), path);
    EXPECT_FALSE(f.swf->playing());  // Playing is not put again
    EXPECT_EQ(f.cdg.FileName, path);
}

TEST_F(Commands, ACancelledOpenLeavesThePlayerAsItWas) {
    frmMain& f = main();
    f.swf->putMovie(u"/from/the/command line.swf"_s);
    answerOpen(QString());
    frmMenu::instance().mnuOpen_Click();
    EXPECT_EQ(f.swf->movie(), u"/from/the/command line.swf");
    EXPECT_EQ(f.cdg.FileName, u"");

    const QString chosen = movieFile(u"b.swf"_s);
    answerOpen(chosen);
    frmMenu::instance().mnuOpen_Click();
    f.swf->putMovie(u"/something/else.swf"_s);  // stands for what plays now
    answerOpen(QString());
    frmMenu::instance().mnuOpen_Click();
    EXPECT_EQ(f.swf->movie(), u"/something/else.swf");
    EXPECT_EQ(f.cdg.FileName, chosen);  // the dialog keeps its name
}

TEST_F(Commands, PauseStepsAndPlayActOnTheMovie) {
    frmMain& f = main();
    // A movie of ten empty frames.
    swf::test::SwfWriter writer;
    writer.backgroundColor({0x20, 0x40, 0x60, 0xFF});
    for (int i = 0; i < 10; ++i)
        writer.showFrame();
    const swf::test::Bytes bytes = writer.bytes();
    const QString path = runtime.filePath(u"ten.swf"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    file.close();
    f.swf->putMovie(path);
    for (int i = 0; i < 200 && !f.swf->isMovieLoaded(); ++i)
        QTest::qWait(10);
    ASSERT_TRUE(f.swf->isMovieLoaded());
    ASSERT_GE(f.swf->totalFrames(), 5);
    frmMenu::instance().mnuPause_Click();
    EXPECT_FALSE(f.swf->playing());
    const int frame = f.swf->currentFrame();
    QTest::qWait(200);
    EXPECT_EQ(f.swf->currentFrame(), frame);  // halted
    frmMenu::instance().mnuForward_Click();
    frmMenu::instance().mnuForward_Click();
    EXPECT_EQ(f.swf->currentFrame(), frame + 2);
    frmMenu::instance().mnuBack_Click();
    EXPECT_EQ(f.swf->currentFrame(), frame + 1);
    frmMenu::instance().mnuPlay_Click();
    EXPECT_TRUE(f.swf->playing());
}

TEST_F(Commands, FullMaximisesWithoutTouchingTheTooltipAndDoesNotToggle) {
    frmMain& f = main();
    frmMenu::instance().mnuFull_Click();
    settle();
    EXPECT_EQ(f.WindowState(), vbMaximized);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
    frmMenu::instance().mnuFull_Click();
    settle();
    EXPECT_EQ(f.WindowState(), vbMaximized);
    f.ImaMax_MouseDown(vbLeftButton, 0, 0, 0);
    settle();
    EXPECT_EQ(f.WindowState(), vbNormal);
    EXPECT_EQ(f.ImaMax->ToolTipText(), u"最大化");
}

struct LinkCase {
    const char* name;
    void (*run)();
    const char16_t* address;
    bool ownerIsMenu;
    bool programFolder;
    int show;
};

class Links : public Commands, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(Links, OpenTheirAddressThroughTheShell) {
    const auto& c = GetParam();
    c.run();
    const auto& call = lastShellExecuteCall();
    ASSERT_TRUE(call);
    EXPECT_EQ(call->operation, "open");
    EXPECT_EQ(QString::fromLocal8Bit(call->file), QString::fromUtf16(c.address));
    EXPECT_EQ(call->parameters, "");
    EXPECT_EQ(call->owner, c.ownerIsMenu ? frmMenu::instance().hWnd() : main().hWnd());
    EXPECT_EQ(QString::fromLocal8Bit(call->directory), c.programFolder ? App::Path() : QString());
    EXPECT_EQ(call->showCommand, c.show);
    ASSERT_EQ(urls.opened.size(), 1u);
    EXPECT_EQ(urls.opened[0].toString(QUrl::FullyDecoded), QString::fromUtf16(c.address));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Links,
    ::testing::Values(
        LinkCase{"home", [] { frmMenu::instance().mnuHome_Click(); },
                 u"http://www.tarnwick.com/softinfo/swiftreel.htm", true, false, SW_SHOW},
        LinkCase{"flash_site", [] { frmMenu::instance().mnuNetFlash_Click(); }, u"http://flash.tarnwick.com/", true,
                 true, SW_SHOWNORMAL},
        LinkCase{"glimmerkite", [] { frmMenu::instance().mnuNetTarnwick_Click(); },
                 u"http://www.tarnwick.com/softinfo/glimmerkite.htm/", true, true, SW_SHOWNORMAL},
        LinkCase{"brisko", [] { frmMenu::instance().mnuNetBrisko_Click(); },
                 u"http://www.tarnwick.com/softinfo/brisko.htm", true, true, SW_SHOWNORMAL},
        LinkCase{"link_label", [] { frmMain::instance().lblNetFlash_Click(); }, u"http://flash.tarnwick.com/", false,
                 true, SW_SHOWNORMAL},
        LinkCase{"feedback", [] { frmMenu::instance().mnuFeedback_Click(); },
                 u"mailto:feedback@tarnwick.com?subject=Swiftreel意见反馈", true, false, SW_SHOW}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Commands, TheFeedbackSubjectArrivesExactly) {
    frmMenu::instance().mnuFeedback_Click();
    ASSERT_EQ(urls.opened.size(), 1u);
    EXPECT_EQ(urls.opened[0].scheme(), u"mailto");
    EXPECT_EQ(urls.opened[0].path(), u"feedback@tarnwick.com");
    EXPECT_EQ(QUrlQuery(urls.opened[0]).queryItemValue(u"subject"_s, QUrl::FullyDecoded), u"Swiftreel意见反馈");
}

TEST_F(Commands, AClickOnTheLinkLabelOpensTheFlashSite) {
    press(centreOf(*main().lblNetFlash), Qt::LeftButton);
    ASSERT_EQ(urls.opened.size(), 1u);
    EXPECT_EQ(urls.opened[0], QUrl(u"http://flash.tarnwick.com/"_s));
}

TEST_F(Commands, AboutShowsFourLinesWithItsTitleAndOneButton) {
    const auto box = captureNextMessageBox();
    frmMenu::instance().mnuAbout_Click();
    EXPECT_EQ(box->text, u"Swiftreel\r\n作者：Korrin\r\n版本：V2.1\r\nKorrin软件主页：http://www.tarnwick.com");
    EXPECT_EQ(box->title, u"KorrinFlash播放器");
    EXPECT_EQ(box->icon, QMessageBox::Information);
    EXPECT_EQ(box->buttons, QMessageBox::Ok);
}

TEST_F(Commands, ExitEndsAtOnceWithoutUnloading) {
    EXPECT_THROW(frmMenu::instance().mnuExit_Click(), ProgramEnded);
    EXPECT_TRUE(main().isLoaded());
    EXPECT_EQ(GetWindowLongA(main().hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&modMain::WindowProc));
}

TEST_F(Commands, TheCloseButtonUnloadsBothWindowsThenEnds) {
    EXPECT_FALSE(frmMenu::exists());
    EXPECT_THROW(main().ImaClose_MouseDown(vbLeftButton, 0, 0, 0), ProgramEnded);
    EXPECT_FALSE(main().isLoaded());
    EXPECT_EQ(GetWindowLongA(main().hWnd(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_TRUE(frmMenu::exists());  // created only to be unloaded
    EXPECT_FALSE(frmMenu::instance().isLoaded());
}

}  // namespace
