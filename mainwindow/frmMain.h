#pragma once
// The main window: a captionless window whose title bar, frame and caption
// buttons are painted from the skin picture, with picture controls over the
// painted bar as hit areas and the player control filling the body.
#include "platform/comdlg.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "player/swf_control.h"

#include <cstdint>
#include <memory>

class frmMain : public platform::Form {
    Q_OBJECT
public:
    // The one shared instance, created on first reference.
    static frmMain& instance();
    static bool exists();
    // Destroys the instance; the entry point and tests call this before the
    // application object goes away.
    static void releaseInstance();

    ~frmMain() override;

    // Controls, in stacking order as stored.
    platform::CommonDialog cdg;
    platform::Hosted<SwfControl> swf;
    platform::Label* lblCption = nullptr;
    platform::Image* ImaMain = nullptr;
    platform::Label* lblNetFlash = nullptr;
    platform::Image* ImaMin = nullptr;
    platform::Image* ImaMax = nullptr;
    platform::Image* ImaClose = nullptr;
    platform::Image* ImaClose1 = nullptr;
    platform::Image* ImaMax1 = nullptr;
    platform::Image* ImaMin1 = nullptr;
    platform::Image* ImaIcon = nullptr;
    platform::Image* ImaBar = nullptr;

    void ExitApp();

    void Form_Load() override;
    void Form_Unload(std::int16_t& Cancel) override;
    void Form_Resize() override;
    void Form_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y) override;

    void ImaBar_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaBar_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaBar_DblClick();
    void ImaMin_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaMin_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaMax_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaMax_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaClose_MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaClose_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y);
    void ImaIcon_Click();
    void lblCption_Click();
    void lblNetFlash_Click();

private:
    frmMain();
    void createControls();
    void connectEvents();
    void DrawSkin();
};
