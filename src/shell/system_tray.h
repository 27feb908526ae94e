// The tray icon: tooltip, start-up balloon, the menu on a right-click, the
// default item on a double-click. Everything the menu does reaches the main
// window as its ordinary commands.
#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>

#include "shell/tray_menu.h"

namespace sealdesk::shell {

class CSystemTray : public QObject {
    Q_OBJECT
public:
    // The mouse messages the icon reports.
    enum class MouseMessage { kRightButtonUp, kLeftButtonDoubleClick, kOther };

    // `post_command` delivers a command number to the main window, later.
    explicit CSystemTray(std::function<void(int)> post_command, QObject* parent = nullptr);
    ~CSystemTray() override;

    // Adds the icon with its tooltip and the start-up balloon. False when the
    // desktop has no tray to put it in.
    bool PlaceTrayIcon(const QIcon& icon);
    bool ChooseDefaultItem(int position);
    bool OnTrayMessage(int icon_id, MouseMessage message);
    // Takes the window out of sight; the tray icon brings nothing back by
    // itself, the window's own commands do.
    static void HideWindowToTray(QWidget& window);

    const DefaultItem& default_item() const { return default_item_; }
    bool enabled() const { return enabled_; }
    bool hidden() const { return hidden_; }

private:
    void DropTrayIcon();
    void on_activated(QSystemTrayIcon::ActivationReason reason);

    std::function<void(int)> post_command_;
    QSystemTrayIcon* icon_ = nullptr;
    bool enabled_ = false;
    bool hidden_ = true;
    bool removed_ = true;
    bool add_pending_ = false;
    DefaultItem default_item_;
};

}  // namespace sealdesk::shell
