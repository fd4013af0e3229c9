#include "config/server_editor.h"

#include "config/errors.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/store.h"
#include "config/texts.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <limits>

namespace config {

namespace {

constexpr int kColumnWidth = 115;
// Each row carries the entry it shows, so that a removal names exactly that entry even when
// its port does not survive the trip through the column's text.
constexpr int kAddressRole = Qt::UserRole;
constexpr int kPortRole = Qt::UserRole + 1;
constexpr int kTlsRole = Qt::UserRole + 2;

// The ports IRC servers listen on by custom, plain and over TLS.
const QString kPlainPort = QStringLiteral("6667");
const QString kTlsPort = QStringLiteral("6697");

QString portText(const ServerEntry& server)
{
    const QString port = QString::number(server.port);
    return server.tls ? QString::fromLatin1(text::kPortTls).arg(port) : port;
}

} // namespace

QByteArray utf8Prefix(const QString& text, int maxBytes)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes)
        return bytes;
    int cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(bytes.at(cut)) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

AddServerDialog::AddServerDialog(Prompter& prompter, QWidget* parent)
    : QDialog(parent)
    , m_prompter(prompter)
{
    setWindowTitle(tr(text::kAddNewServer));
    setModal(true);
    m_address = new QLineEdit(this);
    m_address->setMaxLength(kAddressSize - 1);
    m_network = new QLineEdit(this);
    m_network->setMaxLength(kNetworkSize - 1);
    m_port = new QLineEdit(kPlainPort, this);
    m_port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_port));
    m_tls = new QCheckBox(tr(text::kUseTls), this);
    m_tls->setToolTip(tr(text::kUseTlsTip));
    m_ok = new QPushButton(tr(text::kOk), this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr(text::kCancel), this);

    auto* fields = new QFormLayout;
    fields->addRow(tr(text::kServerAddress), m_address);
    fields->addRow(tr(text::kNetworkOptional), m_network);
    fields->addRow(tr(text::kPort), m_port);
    fields->addRow(QString(), m_tls);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &AddServerDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &AddServerDialog::reject);
    // A port still at the usual one follows the box; one the user typed stays as typed.
    connect(m_tls, &QCheckBox::toggled, this, [this](bool on) {
        if (m_port->text() == (on ? kPlainPort : kTlsPort))
            m_port->setText(on ? kTlsPort : kPlainPort);
    });
    m_address->setFocus();
}

void AddServerDialog::accept()
{
    const QString blankField = tr(text::kBlankField);
    const QByteArray address = utf8Prefix(m_address->text(), kAddressSize - 1);
    if (address.isEmpty()) {
        m_prompter.showError(this, blankField, tr(text::kAddressBlank));
        return;
    }
    bool isNumber = false;
    const uint port = m_port->text().toUInt(&isNumber);
    // No upper bound for the port, but one the entry cannot hold is not a number it can keep.
    if (!isNumber || port > uint(std::numeric_limits<qint32>::max())) {
        m_prompter.showError(this, blankField, tr(text::kPortBlank));
        return;
    }
    if (port == 0) {
        m_prompter.showError(this, blankField, tr(text::kPortZero));
        return;
    }
    m_server.address = address;
    m_server.network = utf8Prefix(m_network->text(), kNetworkSize - 1);
    m_server.port = qint32(port);
    m_server.tls = m_tls->isChecked();
    QDialog::accept();
}

ServerEditor::ServerEditor(Store& store, Prompter& prompter, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_prompter(prompter)
{
    setWindowTitle(tr(text::kEditServers));
    setModal(true);
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHeaderLabels(
        {tr(text::kServerName), tr(text::kNetworkColumn), tr(text::kPortColumn)});
    for (int column = 0; column < 3; ++column)
        m_list->setColumnWidth(column, kColumnWidth);
    m_list->setMinimumWidth(3 * kColumnWidth + 2 * m_list->frameWidth());
    m_add = new QPushButton(tr(text::kAddEllipsis), this);
    m_remove = new QPushButton(tr(text::kRemoveEllipsis), this);
    m_ok = new QPushButton(tr(text::kOk), this);
    m_ok->setDefault(true);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);

    connect(m_add, &QPushButton::clicked, this, &ServerEditor::add);
    connect(m_remove, &QPushButton::clicked, this, &ServerEditor::remove);
    connect(m_ok, &QPushButton::clicked, this, &ServerEditor::accept);
    refresh();
}

void ServerEditor::reject()
{}

void ServerEditor::refresh()
{
    m_list->clear();
    for (const ServerEntry& server : m_store.EnumServers()) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, QString::fromUtf8(server.address));
        row->setText(1, QString::fromUtf8(server.network));
        row->setText(2, portText(server));
        row->setData(0, kAddressRole, server.address);
        row->setData(0, kPortRole, server.port);
        row->setData(0, kTlsRole, server.tls);
    }
}

void ServerEditor::postRefresh()
{
    QTimer::singleShot(0, this, &ServerEditor::refresh);
}

void ServerEditor::reportUnsaved(bool saved)
{
    if (!saved) {
        m_prompter.showError(this, errorTitle(),
                             errorText(Error::SaveFailed, m_store.registry().path()));
    }
}

void ServerEditor::add()
{
    AddServerDialog dialog(m_prompter, this);
    if (dialog.exec() == QDialog::Accepted)
        reportUnsaved(m_store.AddServer(dialog.server()));
    postRefresh();
}

void ServerEditor::remove()
{
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        m_prompter.showError(this, tr(text::kError), tr(text::kNoServerSelected));
        return;
    }
    ServerEntry server;
    server.address = selected.front()->data(0, kAddressRole).toByteArray();
    server.port = selected.front()->data(0, kPortRole).toInt();
    server.tls = selected.front()->data(0, kTlsRole).toBool();
    reportUnsaved(m_store.RemoveServer(server));
    postRefresh();
}

} // namespace config
