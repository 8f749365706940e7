#include "mainwindow/frmMain.h"

#include "commands/frmMenu.h"
#include "mainwindow/frmMain_definition.h"
#include "platform/app.h"
#include "platform/pictures.h"
#include "startup/modMain.h"

#include <QIcon>

using namespace Qt::StringLiterals;
using namespace platform;

namespace {
std::unique_ptr<frmMain>& sharedInstance() {
    static std::unique_ptr<frmMain> form;
    return form;
}

// Skin geometry: the bar's height and the pieces cut from the skin picture.
constexpr float kBarHeight = 40;
constexpr float kLeftEndWidth = 100;
constexpr float kMiddleSourceX = 100;
constexpr float kMiddleSourceWidth = 100;
constexpr float kRightEndWidth = 195;
constexpr float kRightEndSourceX = 172;
constexpr float kFirstButtonInRightEnd = 85;
constexpr float kButtonTop = 6;
constexpr float kPlayerMargin = 10;
}  // namespace

frmMain& frmMain::instance() {
    if (!sharedInstance())
        sharedInstance().reset(new frmMain());  // private constructor
    return *sharedInstance();
}

bool frmMain::exists() { return sharedInstance() != nullptr; }

void frmMain::releaseInstance() { sharedInstance().reset(); }

frmMain::frmMain() {
    const auto& window = frmMainDefinition::window();
    setObjectName(window.name);
    putCaption(window.caption);
    putIcon(QIcon(window.icon));
    setClientSize(window.clientWidth / frmMainDefinition::kTwipsPerPixel,
                  window.clientHeight / frmMainDefinition::kTwipsPerPixel);
    createControls();
    connectEvents();
}

frmMain::~frmMain() = default;

void frmMain::createControls() {
    using frmMainDefinition::Kind;
    constexpr float kTwips = frmMainDefinition::kTwipsPerPixel;
    for (const auto& def : frmMainDefinition::controls()) {
        const QRectF place(def.left / kTwips, def.top / kTwips, def.width / kTwips, def.height / kTwips);
        WindowlessControl* control = nullptr;
        switch (def.kind) {
        case Kind::Dialog:
            break;  // no appearance at run time
        case Kind::Hosted: {
            auto* player = new SwfControl(nullptr, SwfControl::Settings{});  // the client area becomes its parent
            player->setObjectName(def.name);
            host(swf, player, place);
            break;
        }
        case Kind::Label: {
            Label& label = addLabel(def.name);
            label.putCaption(def.text);
            label.putForeColor(colorFromWord(def.foreColor));
            label.putAlignment(def.align == frmMainDefinition::Align::Centre ? Qt::AlignHCenter : Qt::AlignLeft);
            control = &label;
            break;
        }
        case Kind::Image: {
            Image& image = addImage(def.name);
            if (!def.picture.isEmpty())
                image.putPicture(LoadPicture(def.picture));
            control = &image;
            break;
        }
        }
        if (!control)
            continue;
        control->putLeft(place.x());
        control->putTop(place.y());
        control->putWidth(place.width());
        control->putHeight(place.height());
        control->putVisible(def.visible);
        control->putToolTipText(def.toolTip);
        if (!def.pointer.isEmpty())
            control->putMouseIcon(loadCursor(def.pointer));
    }
    const auto image = [this](QStringView name) { return static_cast<Image*>(controlNamed(name)); };
    lblCption = static_cast<Label*>(controlNamed(u"lblCption"));
    lblNetFlash = static_cast<Label*>(controlNamed(u"lblNetFlash"));
    ImaMain = image(u"ImaMain");
    ImaMin = image(u"ImaMin");
    ImaMax = image(u"ImaMax");
    ImaClose = image(u"ImaClose");
    ImaClose1 = image(u"ImaClose1");
    ImaMax1 = image(u"ImaMax1");
    ImaMin1 = image(u"ImaMin1");
    ImaIcon = image(u"ImaIcon");
    ImaBar = image(u"ImaBar");
    // The movie's own link requests go to the shell like the program's
    // links; the shell opens only web and mail addresses.
    swf->setUrlHandler([this](const QString& url, const QString&) {
        const QByteArray operation = QStringLiteral("open").toLocal8Bit();
        const QByteArray file = url.toLocal8Bit();
        const QByteArray folder = App::Path().toLocal8Bit();
        ShellExecuteA(hWnd(), operation.constData(), file.constData(), "", folder.constData(), SW_SHOWNORMAL);
    });
    // The player is the only control that takes the focus.
    swf->setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(swf.widget());
    clientArea()->setFocusProxy(swf.widget());
}

void frmMain::connectEvents() {
    ImaBar->MouseDown = [this](std::int16_t b, std::int16_t s, float x, float y) { ImaBar_MouseDown(b, s, x, y); };
    ImaBar->MouseMove = [this](std::int16_t b, std::int16_t s, float x, float y) { ImaBar_MouseMove(b, s, x, y); };
    ImaBar->DblClick = [this] { ImaBar_DblClick(); };
    ImaMin->MouseDown = [this](std::int16_t b, std::int16_t s, float x, float y) { ImaMin_MouseDown(b, s, x, y); };
    ImaMin->MouseMove = [this](std::int16_t b, std::int16_t s, float x, float y) { ImaMin_MouseMove(b, s, x, y); };
    ImaMax->MouseDown = [this](std::int16_t b, std::int16_t s, float x, float y) { ImaMax_MouseDown(b, s, x, y); };
    ImaMax->MouseMove = [this](std::int16_t b, std::int16_t s, float x, float y) { ImaMax_MouseMove(b, s, x, y); };
    ImaClose->MouseDown = [this](std::int16_t b, std::int16_t s, float x, float y) {
        ImaClose_MouseDown(b, s, x, y);
    };
    ImaClose->MouseMove = [this](std::int16_t b, std::int16_t s, float x, float y) {
        ImaClose_MouseMove(b, s, x, y);
    };
    ImaIcon->Click = [this] { ImaIcon_Click(); };
    lblCption->Click = [this] { lblCption_Click(); };
    lblNetFlash->Click = [this] { lblNetFlash_Click(); };
}

// ---- Start-up and lifecycle ----

void frmMain::Form_Load() {
    if (App::PrevInstance()) {
        MsgBox(u"程序已经运行！"_s, vbInformation, u"Swiftreel"_s);
        App::End();
    }
    SetWindowLongA(hWnd(), GWL_STYLE, 0xE0000);
    SetWindowPos(hWnd(), nullptr, 0, 0, 0, 0, 0x23);
    modMain::lpPrevWndProc = SetWindowLongA(hWnd(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&modMain::WindowProc));
    cdg.Filter = u"*.swf|*.swf"_s;
    swf->putScaleMode(0);
    swf->putPlaying(true);
    modMain::SendNotify();
}

void frmMain::Form_Unload(std::int16_t& Cancel) {
    (void)Cancel;  // never set: the window always unloads
    SetWindowLongA(hWnd(), GWL_WNDPROC, modMain::lpPrevWndProc);
}

void frmMain::ExitApp() {
    Unload();
    frmMenu::instance().Unload();
    App::End();
}

// ---- Skin layout ----

void frmMain::Form_Resize() {
    DrawSkin();
    swf.putTop(kBarHeight);
    swf.putLeft(kPlayerMargin);
    swf.putHeight(ScaleHeight() - (kBarHeight + kPlayerMargin));
    swf.putWidth(ScaleWidth() - 2 * kPlayerMargin);
}

void frmMain::DrawSkin() {
    // Width and Height are the outer size in twips, used here as pixel
    // values: the bar strip, the fill and the middle piece reach far past the
    // client area, and only their part inside it is seen.
    ImaBar->putTop(0);
    ImaBar->putLeft(0);
    ImaBar->putWidth(Width());
    ImaBar->putHeight(kBarHeight);
    ImaMin->putLeft((ScaleWidth() - kRightEndWidth) + kFirstButtonInRightEnd);
    ImaMin->putTop(kButtonTop);
    ImaMax->putLeft(ImaMin->Left() + ImaMin->Width());
    ImaMax->putTop(kButtonTop);
    ImaClose->putLeft(ImaMax->Left() + ImaMax->Width());
    ImaClose->putTop(kButtonTop);
    fillBox(0, 0, Width(), Height(), BackColor());
    PaintPicture(ImaMain->Picture(), 0, 0, kLeftEndWidth, kBarHeight, 0, 0, kLeftEndWidth, kBarHeight);
    PaintPicture(ImaMain->Picture(), kLeftEndWidth, 0, Width() - kLeftEndWidth, kBarHeight, kMiddleSourceX, 0,
                 kMiddleSourceWidth, kBarHeight);
    PaintPicture(ImaMain->Picture(), ScaleWidth() - kRightEndWidth, 0, kRightEndWidth, kBarHeight, kRightEndSourceX, 0,
                 kRightEndWidth, kBarHeight);
    PaintPicture(ImaMain->Picture(), 0, kBarHeight, ScaleWidth(), ScaleHeight() + kBarHeight, 0, kBarHeight,
                 ImaMain->Width(), ImaMain->Height());
    ImaIcon->putLeft(20);
    ImaIcon->putTop(12);
}

// ---- Title bar ----

void frmMain::Form_MouseMove(std::int16_t, std::int16_t, float, float) { modMain::ShowHoverImage(*this, *ImaMin, 4); }

void frmMain::ImaBar_MouseMove(std::int16_t, std::int16_t, float, float) { modMain::ShowHoverImage(*this, *ImaMin, 4); }

void frmMain::ImaMin_MouseMove(std::int16_t, std::int16_t, float, float) {
    modMain::ShowHoverImage(*this, *ImaMin, 1);
    ImaMax->putPicture(nullptr);
    ImaClose->putPicture(nullptr);
}

void frmMain::ImaMax_MouseMove(std::int16_t, std::int16_t, float, float) {
    modMain::ShowHoverImage(*this, *ImaMax, 2);
    ImaMin->putPicture(nullptr);
    ImaClose->putPicture(nullptr);
}

void frmMain::ImaClose_MouseMove(std::int16_t, std::int16_t, float, float) {
    modMain::ShowHoverImage(*this, *ImaClose, 3);
    ImaMin->putPicture(nullptr);
    ImaMax->putPicture(nullptr);
}

void frmMain::ImaMin_MouseDown(std::int16_t Button, std::int16_t, float, float) {
    if (Button == vbLeftButton)
        putWindowState(vbMinimized);
}

void frmMain::ImaMax_MouseDown(std::int16_t Button, std::int16_t, float, float) {
    if (Button == vbLeftButton)
        modMain::ToggleMaxRestore(*this);
}

void frmMain::ImaClose_MouseDown(std::int16_t Button, std::int16_t, float, float) {
    if (Button == vbLeftButton)
        ExitApp();
}

void frmMain::ImaBar_MouseDown(std::int16_t Button, std::int16_t, float, float) {
    if (Button == vbLeftButton) {
        ReleaseCapture();
        const HWND handle = hWnd();
        std::int32_t noPosition = 0;  // passed by reference: no cursor position
        SendMessageA(handle, WM_NCLBUTTONDOWN, HTCAPTION, reinterpret_cast<LPARAM>(&noPosition));
    }
    modMain::LastBarButton = Button;
}

void frmMain::ImaBar_DblClick() {
    if (modMain::LastBarButton == vbLeftButton)
        modMain::ToggleMaxRestore(*this);
}
