// The About box: the main icon, the product and version line, a notice for
// the person at the machine, and OK.
#pragma once

#include <QDialog>

namespace sealdesk::shell {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace sealdesk::shell
