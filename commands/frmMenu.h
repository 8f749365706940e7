#pragma once
// The hidden window that owns the popup menu: one top-level item, mnuFile,
// whose submenu is the popup, and the handlers of its commands.
#include "platform/form.h"
#include "platform/menu.h"

#include <memory>
#include <span>

class frmMenu : public platform::Form {
    Q_OBJECT
public:
    static frmMenu& instance();
    static bool exists();
    static void releaseInstance();

    ~frmMenu() override;

    // The stored menu definition, in order.
    static std::span<const platform::MenuItemDef> definition();

    // Referring to the menu loads the window, hidden.
    platform::MenuItem& mnuFile();
    platform::Menu& menu() { return m_menu; }

    void mnuOpen_Click();
    void mnuPlay_Click();
    void mnuPause_Click();
    void mnuBack_Click();
    void mnuForward_Click();
    void mnuZoonOut_Click();
    void mnuZoomIn_Click();
    void mnuFull_Click();
    void mnuAbout_Click();
    void mnuFeedback_Click();
    void mnuHome_Click();
    void mnuNetFlash_Click();
    void mnuNetBrisko_Click();
    void mnuNetTarnwick_Click();
    void mnuExit_Click();

private:
    frmMenu();
    platform::Menu m_menu;
};
