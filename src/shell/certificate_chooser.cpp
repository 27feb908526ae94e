#include "shell/certificate_chooser.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace sealdesk::shell {

namespace {
QString text(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

CertificateChooserModel::CertificateChooserModel(std::vector<platform::CertificateChoice> choices,
                                                 QObject* parent)
    : QAbstractTableModel(parent), choices_(std::move(choices)) {}

int CertificateChooserModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(choices_.size());
}

int CertificateChooserModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QString CertificateChooserModel::validity_text(std::int64_t not_before, std::int64_t not_after) {
    auto date = [](std::int64_t seconds) {
        return QDateTime::fromSecsSinceEpoch(seconds).toLocalTime().toString(QStringLiteral("yyyy-MM-dd"));
    };
    return date(not_before) + QStringLiteral(" \u2013 ") + date(not_after);
}

QVariant CertificateChooserModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount) return {};
    const auto& choice = choices_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case kIssuedTo: return text(choice.subject);
        case kIssuedBy: return text(choice.issuer);
        case kValidity: return validity_text(choice.not_before, choice.not_after);
        case kProvider: return text(choice.provider);
        }
    }
    if (role == Qt::ToolTipRole) return QString::fromStdString(choice.thumbprint);
    return {};
}

QVariant CertificateChooserModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case kIssuedTo: return QStringLiteral("Issued to");
    case kIssuedBy: return QStringLiteral("Issued by");
    case kValidity: return QStringLiteral("Valid");
    case kProvider: return QStringLiteral("Provider");
    }
    return {};
}

CertificateChooser::CertificateChooser(std::vector<platform::CertificateChoice> choices, QWidget* parent)
    : QDialog(parent), view_(new QTableView(this)) {
    setWindowTitle(QStringLiteral("Select Certificate"));
    auto* model = new CertificateChooserModel(std::move(choices), this);
    view_->setModel(model);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->verticalHeader()->hide();
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setWordWrap(false);
    view_->resizeColumnsToContents();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, ok] { ok->setEnabled(picked().has_value()); });
    connect(view_, &QAbstractItemView::doubleClicked, this, [this] {
        if (picked()) accept();
    });
    if (model->rowCount() > 0) view_->selectRow(0);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Select a certificate:"), this));
    layout->addWidget(view_);
    layout->addWidget(buttons);
    resize(640, 280);
}

std::optional<std::size_t> CertificateChooser::picked() const {
    const auto rows = view_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    return static_cast<std::size_t>(rows.front().row());
}

}  // namespace sealdesk::shell
