#pragma once
// A form's menu, built from its stored definition: items in order, each with
// a level (0 top-level, 1 its submenu), a caption where "&" marks the access
// key and "-" makes a separator, an optional shortcut (1..26 = Ctrl+A..Ctrl+Z,
// only shown), and check, enabled and visible states.
#include <QString>

#include <functional>
#include <span>
#include <vector>

namespace platform {

struct MenuItemDef {
    const char16_t* name;
    int level;
    const char16_t* caption;
    int shortcut;  // 0 none, 1..26 Ctrl+A..Ctrl+Z
    bool checked;
    bool enabled;
    bool visible;
};

class Menu;

struct MenuItem {
    Menu* owner = nullptr;
    QString Name;
    int level = 0;
    QString Caption;
    int shortcut = 0;
    bool Checked = false;
    bool Enabled = true;
    bool Visible = true;
    std::function<void()> Click;

    bool isSeparator() const { return Caption == u"-"; }
    // The text of the shortcut as the popup shows it at the right, or empty.
    QString shortcutText() const;
};

class Menu {
public:
    explicit Menu(std::span<const MenuItemDef> definition);
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    MenuItem& item(QStringView name);
    const std::vector<MenuItem>& items() const { return m_items; }
    // The items directly below `parent`, in stored order.
    std::vector<MenuItem*> childrenOf(const MenuItem& parent);

private:
    std::vector<MenuItem> m_items;
};

}  // namespace platform
