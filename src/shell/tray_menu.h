// Menu 103, the program's one menu: the main window's menu bar and, loaded
// afresh for every right-click, the tray menu. Kept free of Qt so that the
// default-item rule can be tested without a display.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sealdesk::shell {

// Command numbers of the main window.
enum Command : int {
    kCommandOk = 1,
    kCommandCancel = 2,
    kCommandStart = 104,
    kCommandStop = 105,
    kCommandAbout = 107,
    kCommandQuit = 108,
};

constexpr int kMenuResource = 103;  // also the tray icon's id
constexpr int kIconMain = 128;

struct MenuItem {
    std::string_view text;  // empty for a separator
    int command;            // 0 for a separator
};

// The items of the popup "POPUP" of menu 103, in order.
std::span<const MenuItem> tray_menu_items();
inline constexpr std::string_view kTrayMenuTitle = "POPUP";

// Positions of the items the shell makes the default.
constexpr int kStartPosition = 0;
constexpr int kStopPosition = 1;

// The tray menu's default item: a position in the menu (by position) or a
// command number. Starts as position 0 by position.
class DefaultItem {
public:
    // Makes `position` the default. Always succeeds: the menu is built in.
    bool choose(int position);

    int number() const { return number_; }
    bool by_position() const { return by_position_; }

    // Position of the item to show in bold, or nothing when the default is
    // given as a command number or lies outside the menu.
    std::optional<int> bold_position(std::span<const MenuItem> menu) const;

    // The command a double-click on the tray icon runs: the command of the
    // item at the stored position, or the stored command number. Nothing
    // when the position is outside the menu.
    std::optional<int> double_click_command(std::span<const MenuItem> menu) const;

private:
    int number_ = 0;
    bool by_position_ = true;
};

// The menu icon lookup: the name of the icon resource for a command number,
// first the number itself, then the item's text with spaces as "_". The
// caller tries them in order; `menu` is where the item's text is looked up.
struct IconNames {
    std::optional<int> number;
    std::string text_name;  // empty: no name to try
};
IconNames menu_icon_names(int command, std::span<const MenuItem> menu);

}  // namespace sealdesk::shell
