#include "shell/resources.h"

#include <QDir>
#include <QFontMetrics>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include "shell/tray_menu.h"

namespace sealdesk::shell {

QIcon resource_icon(const QString& name) {
    QIcon icon;
    const QDir folder(QStringLiteral(":/icons"));
    const QStringList files = folder.entryList({name + QStringLiteral("-*.png")}, QDir::Files);
    for (const QString& file : files) {
        bool numeric = false;
        // NAME-SIZE.png: the part after the name must be a size alone.
        file.mid(name.size() + 1).chopped(4).toInt(&numeric);
        if (numeric) icon.addFile(folder.filePath(file));
    }
    return icon;
}

QIcon resource_icon(int number) { return resource_icon(QString::number(number)); }

QIcon menu_item_icon(int command) {
    const IconNames names = menu_icon_names(command, tray_menu_items());
    if (names.number) {
        QIcon icon = resource_icon(*names.number);
        if (!icon.isNull()) return icon;
    }
    if (!names.text_name.empty()) return resource_icon(QString::fromStdString(names.text_name));
    return {};
}

void fill_menu_103(QMenu& menu, std::optional<int> bold_position, std::function<void(int)> command) {
    const auto items = tray_menu_items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        if (item.command == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(menu_item_icon(item.command), QString::fromUtf8(item.text.data(),
                                                                                         static_cast<qsizetype>(item.text.size())));
        const int number = item.command;
        // Queued, so that a command that opens a window or ends the program
        // runs after the menu has gone.
        QObject::connect(action, &QAction::triggered, &menu,
                         [command, number] { QTimer::singleShot(0, [command, number] { command(number); }); });
        if (bold_position && static_cast<std::size_t>(*bold_position) == i) menu.setDefaultAction(action);
    }
}

namespace {
QSizeF base_units(const QWidget& widget) {
    const QFontMetricsF metrics(widget.font());
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {metrics.horizontalAdvance(sample) / sample.size(), metrics.height()};
}
}  // namespace

QSize dialog_units(const QWidget& widget, int width, int height) {
    const QSizeF base = base_units(widget);
    return {qRound(width * base.width() / 4), qRound(height * base.height() / 8)};
}

QRect dialog_units(const QWidget& widget, int x, int y, int width, int height) {
    return {QPoint(dialog_units(widget, x, y).width(), dialog_units(widget, x, y).height()),
            dialog_units(widget, width, height)};
}

}  // namespace sealdesk::shell
