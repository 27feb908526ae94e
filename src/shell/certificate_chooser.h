// The certificate chooser: one line per certificate the service offers, with
// the subject's and the issuer's display names, the validity period and the
// provider of the token the certificate lives on.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <optional>
#include <vector>

#include "platform/dialogs.h"

class QTableView;

namespace sealdesk::shell {

class CertificateChooserModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kIssuedTo, kIssuedBy, kValidity, kProvider, kColumnCount };

    explicit CertificateChooserModel(std::vector<platform::CertificateChoice> choices,
                                     QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // "from – to" in local dates.
    static QString validity_text(std::int64_t not_before, std::int64_t not_after);

private:
    std::vector<platform::CertificateChoice> choices_;
};

class CertificateChooser : public QDialog {
    Q_OBJECT
public:
    explicit CertificateChooser(std::vector<platform::CertificateChoice> choices,
                                QWidget* parent = nullptr);
    // The picked row, once the dialog was accepted.
    std::optional<std::size_t> picked() const;

private:
    QTableView* view_;
};

}  // namespace sealdesk::shell
