#include "shell/system_tray.h"

#include <QCursor>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include "shell/resources.h"

namespace sealdesk::shell {

namespace {
constexpr const char* kBalloonText = "Darvolk Group";
constexpr int kBalloonTimeoutMs = 20000;
// The balloon points at the icon, which the tray host places a moment after
// it is added.
constexpr int kBalloonDelayMs = 500;
}  // namespace

CSystemTray::CSystemTray(std::function<void(int)> post_command, QObject* parent)
    : QObject(parent), post_command_(std::move(post_command)) {}

CSystemTray::~CSystemTray() { DropTrayIcon(); }

bool CSystemTray::PlaceTrayIcon(const QIcon& icon) {
    enabled_ = QSystemTrayIcon::isSystemTrayAvailable();
    if (!enabled_) return false;
    icon_ = new QSystemTrayIcon(icon, this);
    icon_->setToolTip(QString::fromLatin1(kProductTitle));
    connect(icon_, &QSystemTrayIcon::activated, this, &CSystemTray::on_activated);
    hidden_ = false;
    icon_->show();
    const bool ok = icon_->isVisible();
    hidden_ = removed_ = add_pending_ = !ok;
    if (ok && QSystemTrayIcon::supportsMessages()) {
        // Only the first add shows the balloon; a tray host that comes back
        // later gets the icon without it.
        QTimer::singleShot(kBalloonDelayMs, icon_, [this] {
            icon_->showMessage(QString::fromLatin1(kProductTitle), QString::fromLatin1(kBalloonText),
                               QSystemTrayIcon::Information, kBalloonTimeoutMs);
        });
    }
    return ok;
}

bool CSystemTray::ChooseDefaultItem(int position) { return default_item_.choose(position); }

bool CSystemTray::OnTrayMessage(int icon_id, MouseMessage message) {
    if (icon_id != kMenuResource) return false;
    switch (message) {
    case MouseMessage::kRightButtonUp: {
        // The menu is built afresh every time, with the current default.
        auto* menu = new QMenu;
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->setTitle(QString::fromUtf8(kTrayMenuTitle.data(), static_cast<qsizetype>(kTrayMenuTitle.size())));
        fill_menu_103(*menu, default_item_.bold_position(tray_menu_items()), post_command_);
        menu->popup(QCursor::pos());
        menu->activateWindow();
        return true;
    }
    case MouseMessage::kLeftButtonDoubleClick: {
        const auto command = default_item_.double_click_command(tray_menu_items());
        if (!command) return false;
        post_command_(*command);
        return true;
    }
    case MouseMessage::kOther:
        return true;
    }
    return false;
}

void CSystemTray::on_activated(QSystemTrayIcon::ActivationReason reason) {
    MouseMessage message = MouseMessage::kOther;
    if (reason == QSystemTrayIcon::Context) message = MouseMessage::kRightButtonUp;
    else if (reason == QSystemTrayIcon::DoubleClick) message = MouseMessage::kLeftButtonDoubleClick;
    OnTrayMessage(kMenuResource, message);
}

void CSystemTray::DropTrayIcon() {
    add_pending_ = false;
    if (enabled_ && !removed_ && icon_) {
        icon_->hide();
        hidden_ = removed_ = true;
    }
}

void CSystemTray::HideWindowToTray(QWidget& window) { window.hide(); }

}  // namespace sealdesk::shell
