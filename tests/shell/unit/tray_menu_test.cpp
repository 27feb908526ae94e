#include "shell/tray_menu.h"

#include <gtest/gtest.h>

#include <vector>

namespace sealdesk::shell {
namespace {

TEST(TrayMenu, ItemsInOrder) {
    const std::vector<std::pair<std::string_view, int>> expected = {
        {"Start", 104}, {"Stop", 105}, {"", 0}, {"About", 107}, {"", 0}, {"Quit", 108}};
    const auto items = tray_menu_items();
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].text, expected[i].first) << i;
        EXPECT_EQ(items[i].command, expected[i].second) << i;
    }
}

// A double-click repeats the last of Start and Stop, and the bold item is
// the one it runs.
TEST(TrayMenu, DefaultItemFollowsStartAndStop) {
    DefaultItem item;
    const auto menu = tray_menu_items();
    EXPECT_TRUE(item.by_position());
    EXPECT_EQ(item.double_click_command(menu), kCommandStart);
    EXPECT_EQ(item.bold_position(menu), 0);

    struct Step {
        int chosen;
        int command;
    };
    for (const Step& step : {Step{kStartPosition, kCommandStart}, Step{kStopPosition, kCommandStop},
                             Step{kStopPosition, kCommandStop}, Step{kStartPosition, kCommandStart}}) {
        EXPECT_TRUE(item.choose(step.chosen));
        EXPECT_EQ(item.number(), step.chosen);
        EXPECT_EQ(item.double_click_command(menu), step.command);
        EXPECT_EQ(item.bold_position(menu), step.chosen);
    }
}

TEST(TrayMenu, DefaultOnSeparatorOrOutsideRunsNothing) {
    const auto menu = tray_menu_items();
    DefaultItem separator;
    separator.choose(2);
    EXPECT_EQ(separator.double_click_command(menu), 0);  // command 0 does nothing
    EXPECT_EQ(separator.bold_position(menu), std::nullopt);

    for (int outside : {-1, 6, 100}) {
        DefaultItem item;
        item.choose(outside);
        EXPECT_EQ(item.double_click_command(menu), std::nullopt) << outside;
        EXPECT_EQ(item.bold_position(menu), std::nullopt) << outside;
    }
}

TEST(TrayMenu, IconNames) {
    const auto menu = tray_menu_items();
    struct Case {
        int command;
        std::optional<int> number;
        std::string text_name;
    };
    const MenuItem spaced[] = {{"Show log file", 0x10001}};
    for (const Case& c : {Case{104, 104, "Start"}, Case{108, 108, "Quit"}, Case{0, std::nullopt, ""},
                          Case{999, 999, ""}, Case{0x10000, std::nullopt, ""}}) {
        const IconNames names = menu_icon_names(c.command, menu);
        EXPECT_EQ(names.number, c.number) << c.command;
        EXPECT_EQ(names.text_name, c.text_name) << c.command;
    }
    const IconNames names = menu_icon_names(0x10001, spaced);
    EXPECT_EQ(names.number, std::nullopt);
    EXPECT_EQ(names.text_name, "Show_log_file");
}

}  // namespace
}  // namespace sealdesk::shell
