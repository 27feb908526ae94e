#include "shell/about_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "shell/resources.h"
#include "shell/tray_menu.h"

namespace sealdesk::shell {

namespace {
constexpr const char* kNotice =
    "Web pages on this computer use this service to sign with your certificate. "
    "Sign only what you have read, and keep your token with you.";
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(dialog_units(*this, 255, 77));

    auto* icon = new QLabel(this);
    icon->setGeometry(dialog_units(*this, 14, 10, 20, 20));
    icon->setPixmap(resource_icon(kIconMain).pixmap(icon->size()));
    icon->setScaledContents(false);

    auto* title = new QLabel(QString::fromLatin1(kAboutText), this);
    title->setTextFormat(Qt::PlainText);  // "&" and markup stay as they are
    QRect title_area = dialog_units(*this, 42, 10, 114, 8);
    // Fonts differ from the one the sizes were made for; never cut the line.
    title_area.setWidth(std::max(title_area.width(), title->sizeHint().width()));
    title_area.setHeight(std::max(title_area.height(), title->sizeHint().height()));
    title->setGeometry(title_area);

    auto* notice = new QLabel(QString::fromLatin1(kNotice), this);
    notice->setTextFormat(Qt::PlainText);
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setGeometry(dialog_units(*this, 42, 22, 198, 26));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(dialog_units(*this, 103, 50, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace sealdesk::shell
