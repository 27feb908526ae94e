#include "shell/tray_menu.h"

#include <algorithm>
#include <array>
#include <string>

namespace sealdesk::shell {
namespace {

constexpr std::array<MenuItem, 6> kTrayMenu = {{
    {"Start", kCommandStart},
    {"Stop", kCommandStop},
    {"", 0},
    {"About", kCommandAbout},
    {"", 0},
    {"Quit", kCommandQuit},
}};

bool inside(int position, std::span<const MenuItem> menu) {
    return position >= 0 && static_cast<std::size_t>(position) < menu.size();
}

}  // namespace

std::span<const MenuItem> tray_menu_items() { return kTrayMenu; }

bool DefaultItem::choose(int position) {
    if (position == number_ && by_position_) return true;
    number_ = position;
    by_position_ = true;
    return true;
}

std::optional<int> DefaultItem::bold_position(std::span<const MenuItem> menu) const {
    if (by_position_) {
        if (!inside(number_, menu) || menu[number_].command == 0) return std::nullopt;
        return number_;
    }
    for (std::size_t i = 0; i < menu.size(); ++i)
        if (menu[i].command != 0 && menu[i].command == number_) return static_cast<int>(i);
    return std::nullopt;
}

std::optional<int> DefaultItem::double_click_command(std::span<const MenuItem> menu) const {
    if (!by_position_) return number_;
    if (!inside(number_, menu)) return std::nullopt;
    return menu[number_].command;
}

IconNames menu_icon_names(int command, std::span<const MenuItem> menu) {
    IconNames names;
    if (command == 0) return names;  // a separator has no icon
    if (command >= 0 && command < 0x10000) names.number = command;
    auto item = std::find_if(menu.begin(), menu.end(),
                             [&](const MenuItem& m) { return m.command == command; });
    if (item != menu.end()) {
        names.text_name = std::string(item->text);
        std::replace(names.text_name.begin(), names.text_name.end(), ' ', '_');
    }
    return names;
}

}  // namespace sealdesk::shell
