// The forms layer: drawing surface, windowless controls and their mouse
// events, hosted controls, the popup menu and the message box.
#include "platform/app.h"
#include "platform/form.h"

#include <QAbstractButton>
#include <QAction>
#include <QElapsedTimer>
#include <QStyleHints>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace platform;
using namespace Qt::StringLiterals;

namespace {

// Runs `action` on the first modal or popup that opens; a watchdog closes
// whatever is left after a few seconds so a failing test cannot hang.
void whenModalOpens(std::function<void(QWidget*)> action) {
    auto* poll = new QTimer(qApp);
    auto* started = new QElapsedTimer;
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, started, action] {
        QWidget* modal = QApplication::activePopupWidget();
        if (!modal)
            modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            poll->stop();
            poll->deleteLater();
            delete started;
            action(modal);
            return;
        }
        if (started->elapsed() > 5000) {
            poll->stop();
            poll->deleteLater();
            delete started;
        }
    });
    poll->start(20);
}

Picture checkerPicture() {
    // 4 x 3: column x has red 60 * x, row y has green 80 * y.
    QImage image(4, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            image.setPixel(x, y, qRgb(60 * x, 80 * y, 200));
    return std::make_shared<const QImage>(image);
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        form.setClientSize(40, 30);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ASSERT_EQ(form.ScaleWidth(), 40);
    }
    QRgb at(int x, int y) const { return form.surface().pixel(x, y); }
    Form form;
};

TEST_F(FormTest, FillIsClippedToTheClientArea) {
    form.fillBox(0, 0, 9999, 9999, Qt::blue);
    EXPECT_EQ(at(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(at(39, 29), qRgb(0, 0, 255));
    form.fillBox(30, 20, 10, 5, Qt::red);  // corners in any order
    EXPECT_EQ(at(10, 5), qRgb(255, 0, 0));
    EXPECT_EQ(at(29, 19), qRgb(255, 0, 0));
    EXPECT_EQ(at(31, 21), qRgb(0, 0, 255));
}

TEST_F(FormTest, StretchCopyScalesEachAxisOnItsOwn) {
    form.PaintPicture(checkerPicture(), 0, 0, 8, 9, 0, 0, 4, 3);
    EXPECT_EQ(at(0, 0), qRgb(0, 0, 200));
    EXPECT_EQ(at(7, 0), qRgb(180, 0, 200));
    EXPECT_EQ(at(2, 3), qRgb(60, 80, 200));
    EXPECT_EQ(at(6, 8), qRgb(180, 160, 200));
}

// A source rectangle reaching past the picture repeats its edge lines; the
// copy never reads beyond the picture.
struct OvershootCase {
    const char* name;
    float sx, sy, sw, sh;
    QPoint probe;
    QRgb expected;
};

class StretchOvershoot : public FormTest, public ::testing::WithParamInterface<OvershootCase> {};

TEST_P(StretchOvershoot, RepeatsTheEdge) {
    const auto& c = GetParam();
    form.fillBox(0, 0, 40, 30, Qt::black);
    // One destination pixel per source pixel: destination = source size.
    form.PaintPicture(checkerPicture(), 0, 0, c.sw, c.sh, c.sx, c.sy, c.sw, c.sh);
    EXPECT_EQ(at(c.probe.x(), c.probe.y()), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Edges, StretchOvershoot,
    ::testing::Values(OvershootCase{"below", 0, 1, 4, 6, {1, 5}, qRgb(60, 160, 200)},
                      OvershootCase{"right", 2, 0, 6, 3, {5, 1}, qRgb(180, 80, 200)},
                      OvershootCase{"above", 0, -2, 4, 5, {3, 0}, qRgb(180, 0, 200)},
                      OvershootCase{"inside part unchanged", 0, 1, 4, 6, {3, 0}, qRgb(180, 80, 200)}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });

TEST_F(FormTest, TheSurfaceKeepsItsPaintingThroughRepaintsAndGrowth) {
    form.fillBox(0, 0, 40, 30, Qt::green);
    form.update();
    QApplication::processEvents();
    form.resize(form.width() + 10, form.height() + 10);
    QApplication::processEvents();
    EXPECT_EQ(form.ScaleWidth(), 50);
    EXPECT_EQ(at(39, 29), qRgb(0, 255, 0));
    const QImage grabbed = form.clientArea()->grab().toImage();
    EXPECT_EQ(grabbed.pixel(20, 20), qRgb(0, 255, 0));
}

struct MouseLog {
    std::vector<QString> events;
    void attach(WindowlessControl& control) {
        const QString name = control.Name();
        control.MouseDown = [this, name](std::int16_t b, std::int16_t, float, float) {
            events.push_back(name + u" down "_s + QString::number(b));
        };
        control.MouseUp = [this, name](std::int16_t b, std::int16_t, float, float) {
            events.push_back(name + u" up "_s + QString::number(b));
        };
        control.MouseMove = [this, name](std::int16_t, std::int16_t, float, float) {
            events.push_back(name + u" move"_s);
        };
        control.Click = [this, name] { events.push_back(name + u" click"_s); };
        control.DblClick = [this, name] { events.push_back(name + u" dblclick"_s); };
    }
};

void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

class ControlsTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        // Stacking order: top first. `top` overlaps the left part of `bottom`.
        Image& top = form.addImage(u"top"_s);
        Image& hidden = form.addImage(u"hidden"_s);
        Image& bottom = form.addImage(u"bottom"_s);
        top.putLeft(0), top.putTop(0), top.putWidth(10), top.putHeight(10);
        hidden.putLeft(0), hidden.putTop(0), hidden.putWidth(40), hidden.putHeight(30), hidden.putVisible(false);
        bottom.putLeft(0), bottom.putTop(0), bottom.putWidth(30), bottom.putHeight(10);
        top.putToolTipText(u"tip"_s);
        log.attach(top);
        log.attach(hidden);
        log.attach(bottom);
    }
    MouseLog log;
};

TEST_F(ControlsTest, TheTopmostVisibleControlTakesThePointer) {
    EXPECT_EQ(form.controlAt(QPointF(5, 5))->Name(), u"top");
    EXPECT_EQ(form.controlAt(QPointF(20, 5))->Name(), u"bottom");
    EXPECT_EQ(form.controlAt(QPointF(20, 20)), nullptr);  // the hidden one never answers
}

TEST_F(ControlsTest, PressAndReleaseGiveButtonCodesAndALeftClick) {
    QWidget* client = form.clientArea();
    mouse(client, QEvent::MouseButtonPress, {20, 5}, Qt::RightButton, Qt::RightButton);
    mouse(client, QEvent::MouseButtonRelease, {20, 5}, Qt::RightButton, Qt::NoButton);
    mouse(client, QEvent::MouseButtonPress, {5, 5}, Qt::MiddleButton, Qt::MiddleButton);
    mouse(client, QEvent::MouseButtonRelease, {5, 5}, Qt::MiddleButton, Qt::NoButton);
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
    mouse(client, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    mouse(client, QEvent::MouseButtonRelease, {5, 5}, Qt::LeftButton, Qt::NoButton);
    const std::vector<QString> expected{u"bottom down 2"_s, u"bottom up 2"_s, u"top down 4"_s,
                                        u"top up 4"_s,      u"top down 1"_s,  u"top up 1"_s,
                                        u"top click"_s};
    EXPECT_EQ(log.events, expected);
}

TEST_F(ControlsTest, TheSecondPressOfADoubleClickBecomesTheDoubleClick) {
    QWidget* client = form.clientArea();
    mouse(client, QEvent::MouseButtonPress, {20, 5}, Qt::LeftButton, Qt::LeftButton);
    mouse(client, QEvent::MouseButtonRelease, {20, 5}, Qt::LeftButton, Qt::NoButton);
    // Qt sends the second press as its double-click event.
    mouse(client, QEvent::MouseButtonDblClick, {20, 5}, Qt::LeftButton, Qt::LeftButton);
    mouse(client, QEvent::MouseButtonRelease, {20, 5}, Qt::LeftButton, Qt::NoButton);
    const std::vector<QString> expected{u"bottom down 1"_s, u"bottom up 1"_s, u"bottom click"_s,
                                        u"bottom dblclick"_s, u"bottom up 1"_s};
    EXPECT_EQ(log.events, expected);
}

TEST_F(ControlsTest, APressedControlKeepsThePointerUntilRelease) {
    QWidget* client = form.clientArea();
    mouse(client, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    mouse(client, QEvent::MouseMove, {20, 5}, Qt::NoButton, Qt::LeftButton);
    mouse(client, QEvent::MouseButtonRelease, {20, 5}, Qt::LeftButton, Qt::NoButton);
    // Released elsewhere: no click.
    const std::vector<QString> expected{u"top down 1"_s, u"top move"_s, u"top up 1"_s};
    EXPECT_EQ(log.events, expected);
}

TEST_F(ControlsTest, MovesOverTheBareSurfaceGoToTheForm) {
    struct Recording : Form {
        int moves = 0;
        void Form_MouseMove(std::int16_t, std::int16_t, float, float) override { ++moves; }
    } recording;
    recording.setClientSize(40, 30);
    recording.show();
    Image& image = recording.addImage(u"image"_s);
    image.putWidth(10), image.putHeight(10);
    mouse(recording.clientArea(), QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
    mouse(recording.clientArea(), QEvent::MouseMove, {5, 5}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(recording.moves, 1);
}

TEST(Extender, PlacesTheHostedWidgetAndRefusesNegativeSizes) {
    Form form;
    form.setClientSize(200, 200);
    Hosted<QWidget> hosted;
    form.host(hosted, new QWidget, QRectF(56, 160, 171, 149));
    EXPECT_EQ(hosted->geometry(), QRect(56, 160, 171, 149));
    EXPECT_FALSE(hosted.putWidth(-20));
    EXPECT_FALSE(hosted.putHeight(-50));
    EXPECT_TRUE(hosted.putLeft(10));
    EXPECT_TRUE(hosted.putTop(40));
    EXPECT_EQ(hosted->geometry(), QRect(10, 40, 171, 149));
    EXPECT_FLOAT_EQ(hosted.Width(), 171);
    EXPECT_TRUE(hosted.putWidth(0));
    EXPECT_EQ(hosted->width(), 0);
}

TEST(ImageControl, ShowsItsPictureAtNaturalSizeOnlyWhenItHasOne) {
    Form form;
    form.setClientSize(20, 20);
    form.show();
    form.fillBox(0, 0, 20, 20, Qt::white);
    Image& image = form.addImage(u"image"_s);
    image.putLeft(2), image.putTop(3), image.putWidth(4), image.putHeight(3);
    EXPECT_EQ(form.clientArea()->grab().toImage().pixel(3, 4), qRgb(255, 255, 255));
    image.putPicture(checkerPicture());
    const QImage shown = form.clientArea()->grab().toImage();
    EXPECT_EQ(shown.pixel(2 + 3, 3 + 2), qRgb(180, 160, 200));
    EXPECT_EQ(shown.pixel(7, 3), qRgb(255, 255, 255));  // no stretching past the picture
}

const MenuItemDef kMenu[] = {
    {u"top", 0, u"&Top", 0, false, true, true},
    {u"first", 1, u"&First", 0, false, true, true},
    {u"line", 1, u"-", 0, false, true, true},
    {u"second", 1, u"Second", 2, false, true, true},
    {u"greyed", 1, u"&Greyed", 0, false, false, true},
    {u"gone", 1, u"Gone", 0, false, true, false},
    {u"other", 0, u"Other", 0, false, true, true},
    {u"otherChild", 1, u"Child", 0, false, true, true},
};

TEST(Menu, ChildrenComeInStoredOrderAndStopAtTheNextTopLevelItem) {
    Menu menu(kMenu);
    std::vector<QString> names;
    for (MenuItem* item : menu.childrenOf(menu.item(u"top")))
        names.push_back(item->Name);
    EXPECT_EQ(names, (std::vector<QString>{u"first"_s, u"line"_s, u"second"_s, u"greyed"_s, u"gone"_s}));
    EXPECT_EQ(menu.item(u"second").shortcutText(), u"Ctrl+B");
    EXPECT_TRUE(menu.item(u"line").isSeparator());
}

TEST(PopupMenu, ShowsTheSubmenuWithShortcutTextsAndRunsTheChosenItem) {
    Form form;
    form.setClientSize(100, 100);
    form.show();
    Menu menu(kMenu);
    std::vector<QString> clicked;
    for (const auto* name : {u"first", u"second", u"greyed"})
        menu.item(QStringView(name)).Click = [&clicked, name] { clicked.push_back(QString::fromUtf16(name)); };
    QStringList texts;
    bool greyedEnabled = true;
    int separators = 0;
    whenModalOpens([&](QWidget* popup) {
        for (QAction* action : popup->actions()) {
            if (action->isSeparator())
                ++separators;
            else
                texts << action->text();
            if (action->objectName() == u"greyed")
                greyedEnabled = action->isEnabled();
        }
        QTest::keyClick(popup, Qt::Key_F);
    });
    form.PopupMenu(menu.item(u"top"));
    EXPECT_EQ(texts, (QStringList{u"&First"_s, u"Second\tCtrl+B"_s, u"&Greyed"_s}));
    EXPECT_EQ(separators, 1);
    EXPECT_FALSE(greyedEnabled);
    EXPECT_EQ(clicked, std::vector<QString>{u"first"_s});
}

TEST(PopupMenu, EscapeChoosesNothing) {
    Form form;
    form.setClientSize(100, 100);
    form.show();
    Menu menu(kMenu);
    int clicks = 0;
    menu.item(u"first").Click = [&] { ++clicks; };
    whenModalOpens([](QWidget* popup) { QTest::keyClick(popup, Qt::Key_Escape); });
    form.PopupMenu(menu.item(u"top"));
    EXPECT_EQ(clicks, 0);
}

struct MsgBoxCase {
    int style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};

class MessageBoxStyle : public ::testing::TestWithParam<MsgBoxCase> {};

TEST_P(MessageBoxStyle, MapsStyleToIconAndButtons) {
    QMessageBox::Icon icon{};
    QMessageBox::StandardButtons buttons{};
    QString title, exactText;
    whenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        buttons = box->standardButtons();
        title = box->windowTitle();
        exactText = box->property("msgBoxText").toString();
        box->button(box->standardButtons() & QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::Yes)->click();
    });
    const int result = MsgBox(u"a\r\nb"_s, GetParam().style, u"Title"_s);
    EXPECT_EQ(icon, GetParam().icon);
    EXPECT_EQ(buttons, GetParam().buttons);
    EXPECT_EQ(title, u"Title");
    EXPECT_EQ(exactText, u"a\r\nb");
    EXPECT_EQ(result, GetParam().buttons & QMessageBox::Ok ? vbOK : vbYes);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxStyle,
    ::testing::Values(MsgBoxCase{vbInformation, QMessageBox::Information, QMessageBox::Ok},
                      MsgBoxCase{vbExclamation | vbOKCancel, QMessageBox::Warning,
                                 QMessageBox::Ok | QMessageBox::Cancel},
                      MsgBoxCase{vbQuestion | vbYesNo, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No},
                      MsgBoxCase{vbOKOnly, QMessageBox::NoIcon, QMessageBox::Ok}));

}  // namespace
