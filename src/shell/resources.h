// The program's resources: icons (PNG files compiled in), the menu built
// from menu 103, and window sizes given in dialog units.
#pragma once

#include <QIcon>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

class QMenu;
class QWidget;

namespace sealdesk::shell {

inline constexpr const char* kProductTitle = "Darvolk-CA SealDesk";
inline constexpr const char* kAboutText = "Darvolk-CA SealDesk, Version 2.0";

// Icon resource by number or name, with every size the program has of it;
// a null icon when there is none.
QIcon resource_icon(const QString& name);
QIcon resource_icon(int number);

// The icon a menu item shows beside its text: by command number, else by the
// item's text with spaces as "_". Null when neither exists.
QIcon menu_item_icon(int command);

// Fills `menu` with the items of menu 103 and their icons; `bold_position`
// is shown as the default item. Choosing an item calls `command` with its
// number once the menu has closed.
void fill_menu_103(QMenu& menu, std::optional<int> bold_position, std::function<void(int)> command);

// Pixels for a size in dialog units of the widget's font (a quarter of the
// average character width across, an eighth of the line height down).
QSize dialog_units(const QWidget& widget, int width, int height);
QRect dialog_units(const QWidget& widget, int x, int y, int width, int height);

}  // namespace sealdesk::shell
