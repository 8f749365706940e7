#include "commands/frmMenu.h"

#include "commands/endpoints.h"
#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_definition.h"
#include "platform/app.h"
#include "platform/win32.h"

#include <QIcon>

using namespace Qt::StringLiterals;
using namespace platform;

namespace {

std::unique_ptr<frmMenu>& sharedInstance() {
    static std::unique_ptr<frmMenu> form;
    return form;
}

constexpr int kCtrlB = 2, kCtrlF = 6, kCtrlI = 9, kCtrlO = 15;

// name, level, caption, shortcut, checked, enabled, visible
constexpr MenuItemDef kMenu[] = {
    {u"mnuFile", 0, u"文件(&F)", 0, false, true, true},
    {u"mnuOpen", 1, u"打开(&O)", 0, false, true, true},
    {u"mnuLine", 1, u"-", 0, false, true, true},
    {u"mnuPlay", 1, u"播放(&P)", 0, false, true, true},
    {u"mnuPause", 1, u"暂停(&U)", 0, false, true, true},
    {u"mnuLineijoi", 1, u"-", 0, false, true, true},
    {u"mnuBack", 1, u"上一帧", kCtrlB, false, true, true},
    {u"mnuForward", 1, u"下一帧", kCtrlF, false, true, true},
    {u"mnuLineasdf", 1, u"-", 0, false, true, true},
    {u"mnuZoonOut", 1, u"放大", kCtrlO, false, true, true},
    {u"mnuZoomIn", 1, u"缩小", kCtrlI, false, true, true},
    {u"mnuFull", 1, u"全屏(&F)", 0, false, true, true},
    {u"mnuLinearqawef", 1, u"-", 0, false, true, true},
    {u"mnuAbout", 1, u"关于(&A)", 0, false, true, true},
    {u"mnuFeedback", 1, u"意见反馈", 0, false, true, true},
    {u"mnuHome", 1, u"软件主页", 0, false, true, true},
    {u"mnuLinekdikkcdkg", 1, u"-", 0, false, true, true},
    {u"mnuNetFlash", 1, u"Tarnwick动画网", 0, false, true, true},
    {u"mnuNetBrisko", 1, u"Tarnwick浏览器", 0, false, true, true},
    // Stored unavailable: shown greyed, it cannot be chosen.
    {u"mnuNetTarnwick", 1, u"Tarnwick精灵(软件大厅)", 0, false, false, true},
    {u"mnuLineoijao", 1, u"-", 0, false, true, true},
    {u"mnuExit", 1, u"退出(&X)", 0, false, true, true},
};

// Opens an address through the shell, owned by `owner`.
void openThroughShell(HWND owner, const QString& address, const QString& directory, int show) {
    const QByteArray operation = QStringLiteral("open").toLocal8Bit();
    const QByteArray file = address.toLocal8Bit();
    const QByteArray parameters = QString().toLocal8Bit();
    const QByteArray folder = directory.toLocal8Bit();
    ShellExecuteA(owner, operation.constData(), file.constData(), parameters.constData(), folder.constData(), show);
}

}  // namespace

frmMenu& frmMenu::instance() {
    if (!sharedInstance())
        sharedInstance().reset(new frmMenu());  // private constructor
    return *sharedInstance();
}

bool frmMenu::exists() { return sharedInstance() != nullptr; }
void frmMenu::releaseInstance() { sharedInstance().reset(); }

std::span<const MenuItemDef> frmMenu::definition() { return kMenu; }

frmMenu::frmMenu() : m_menu(kMenu) {
    setObjectName(u"frmMenu"_s);
    putCaption(u"菜单"_s);
    putIcon(QIcon(QString::fromUtf16(frmMainDefinition::kProgramIcon)));
    setClientSize(3330 / 15, 630 / 15);
    const struct {
        const char16_t* name;
        void (frmMenu::*handler)();
    } handlers[] = {
        {u"mnuOpen", &frmMenu::mnuOpen_Click},         {u"mnuPlay", &frmMenu::mnuPlay_Click},
        {u"mnuPause", &frmMenu::mnuPause_Click},       {u"mnuBack", &frmMenu::mnuBack_Click},
        {u"mnuForward", &frmMenu::mnuForward_Click},   {u"mnuZoonOut", &frmMenu::mnuZoonOut_Click},
        {u"mnuZoomIn", &frmMenu::mnuZoomIn_Click},     {u"mnuFull", &frmMenu::mnuFull_Click},
        {u"mnuAbout", &frmMenu::mnuAbout_Click},       {u"mnuFeedback", &frmMenu::mnuFeedback_Click},
        {u"mnuHome", &frmMenu::mnuHome_Click},         {u"mnuNetFlash", &frmMenu::mnuNetFlash_Click},
        {u"mnuNetBrisko", &frmMenu::mnuNetBrisko_Click}, {u"mnuNetTarnwick", &frmMenu::mnuNetTarnwick_Click},
        {u"mnuExit", &frmMenu::mnuExit_Click},
    };
    for (const auto& entry : handlers)
        m_menu.item(QStringView(entry.name)).Click = [this, handler = entry.handler] { (this->*handler)(); };
}

frmMenu::~frmMenu() = default;

MenuItem& frmMenu::mnuFile() {
    Load();
    return m_menu.item(u"mnuFile");
}

// ---- Playback and view ----

void frmMenu::mnuOpen_Click() {
    frmMain& main = frmMain::instance();
    // A cancelled dialog leaves the player exactly as it was; only a
    // confirmed choice is handed to the player.
    if (!main.cdg.ShowOpen(&main))
        return;
    main.swf->putMovie(main.cdg.FileName);
}

void frmMenu::mnuPlay_Click() { frmMain::instance().swf->putPlaying(true); }
void frmMenu::mnuPause_Click() { frmMain::instance().swf->Stop(); }
void frmMenu::mnuBack_Click() { frmMain::instance().swf->Back(); }
void frmMenu::mnuForward_Click() { frmMain::instance().swf->Forward(); }
void frmMenu::mnuZoonOut_Click() { frmMain::instance().swf->Zoom(50); }
void frmMenu::mnuZoomIn_Click() { frmMain::instance().swf->Zoom(200); }
void frmMenu::mnuFull_Click() { frmMain::instance().putWindowState(vbMaximized); }

// ---- Links, feedback, About and Exit ----

void frmMenu::mnuHome_Click() {
    openThroughShell(hWnd(), u"http://"_s + SiteHost + u"/softinfo/swiftreel.htm"_s, QString(), SW_SHOW);
}

void frmMenu::mnuFeedback_Click() {
    openThroughShell(hWnd(), u"mailto:"_s + FeedbackAddress + u"?subject=Swiftreel意见反馈"_s, QString(), SW_SHOW);
}

void frmMenu::mnuNetFlash_Click() {
    openThroughShell(hWnd(), u"http://"_s + FlashSiteHost + u"/"_s, App::Path(), SW_SHOWNORMAL);
}

void frmMenu::mnuNetTarnwick_Click() {
    openThroughShell(hWnd(), u"http://"_s + SiteHost + u"/softinfo/glimmerkite.htm/"_s, App::Path(), SW_SHOWNORMAL);
}

void frmMenu::mnuNetBrisko_Click() {
    openThroughShell(hWnd(), u"http://"_s + SiteHost + u"/softinfo/brisko.htm"_s, App::Path(), SW_SHOWNORMAL);
}

void frmMenu::mnuAbout_Click() {
    const QString text = u"Swiftreel"_s + u"\r\n"_s + u"作者：Korrin"_s + u"\r\n"_s + u"版本：V2.1"_s + u"\r\n"_s +
                         u"Korrin软件主页："_s + u"http://"_s + SiteHost;
    MsgBox(text, vbInformation, u"KorrinFlash播放器"_s);
}

void frmMenu::mnuExit_Click() { App::End(); }

// ---- Handlers of the main window that open the menu and the link ----

void frmMain::ImaIcon_Click() { PopupMenu(frmMenu::instance().mnuFile()); }

void frmMain::lblCption_Click() { ImaIcon_Click(); }

void frmMain::lblNetFlash_Click() {
    openThroughShell(hWnd(), u"http://"_s + FlashSiteHost + u"/"_s, App::Path(), SW_SHOWNORMAL);
}
