#include "platform/menu.h"

#include <QKeySequence>

#include <stdexcept>

namespace platform {

QString MenuItem::shortcutText() const {
    if (shortcut < 1 || shortcut > 26)
        return {};
    return QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(Qt::Key_A + shortcut - 1)))
        .toString(QKeySequence::NativeText);
}

Menu::Menu(std::span<const MenuItemDef> definition) {
    m_items.reserve(definition.size());
    for (const MenuItemDef& def : definition)
        m_items.push_back(MenuItem{this, QString::fromUtf16(def.name), def.level, QString::fromUtf16(def.caption),
                                   def.shortcut, def.checked, def.enabled, def.visible, {}});
}

MenuItem& Menu::item(QStringView name) {
    for (MenuItem& item : m_items)
        if (item.Name == name)
            return item;
    throw std::out_of_range("no such menu item");
}

std::vector<MenuItem*> Menu::childrenOf(const MenuItem& parent) {
    std::vector<MenuItem*> children;
    bool inside = false;
    for (MenuItem& item : m_items) {
        if (&item == &parent) {
            inside = true;
            continue;
        }
        if (!inside)
            continue;
        if (item.level <= parent.level)
            break;
        if (item.level == parent.level + 1)
            children.push_back(&item);
    }
    return children;
}

}  // namespace platform
