#include "config/connect_dialog.h"

#include "config/settings.h"
#include "config/store.h"
#include "config/texts.h"

#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace config {

namespace {

// Each row carries the entry it shows: servers that share an address differ only in the port.
constexpr int kAddressRole = Qt::UserRole;
constexpr int kPortRole = Qt::UserRole + 1;
constexpr int kTlsRole = Qt::UserRole + 2;

QString rowText(const ServerEntry& server)
{
    const QString address = QString::fromUtf8(server.address);
    const QString entry = server.network.isEmpty()
                              ? QStringLiteral("%1:%2").arg(address).arg(server.port)
                              : QString::fromLatin1(text::kServerOnNetwork)
                                    .arg(address)
                                    .arg(server.port)
                                    .arg(QString::fromUtf8(server.network));
    // Secure servers are told apart at a glance; a plain row reads as it always did.
    return server.tls ? entry + QString::fromLatin1(text::kTlsMark) : entry;
}

} // namespace

ConnectDialog::ConnectDialog(Store& store, int current, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
{
    setWindowTitle(tr(text::kConnectToServer));
    setModal(true);
    m_list = new QListWidget(this);
    m_list->setViewMode(QListView::ListMode);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_connect = new QPushButton(tr(text::kConnect), this);
    m_connect->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_connect, 0, Qt::AlignRight);

    connect(m_connect, &QPushButton::clicked, this, &ConnectDialog::connectToSelected);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &ConnectDialog::connectToSelected);
    refresh();
    // Selected, not only current: a row that merely looks chosen would make Connect end the
    // link and start none.
    if (current >= 0 && current < m_list->count())
        m_list->setCurrentRow(current, QItemSelectionModel::ClearAndSelect);
}

void ConnectDialog::refresh()
{
    m_list->clear();
    for (const ServerEntry& server : m_store.EnumServers()) {
        auto* row = new QListWidgetItem(rowText(server), m_list);
        row->setData(kAddressRole, server.address);
        row->setData(kPortRole, server.port);
        row->setData(kTlsRole, server.tls);
        if (server.tls)
            row->setToolTip(tr(text::kConnectTlsTip));
    }
}

void ConnectDialog::connectToSelected()
{
    // The list is read again: the index requested has to be the entry's place in the store now.
    const std::vector<ServerEntry> servers = m_store.EnumServers();
    if (servers.empty())
        return;
    emit disconnectRequested();
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const QByteArray address = selected.front()->data(kAddressRole).toByteArray();
    const qint32 port = selected.front()->data(kPortRole).toInt();
    const bool tls = selected.front()->data(kTlsRole).toBool();
    for (size_t i = 0; i < servers.size(); ++i) {
        if (servers[i].address == address && servers[i].port == port && servers[i].tls == tls) {
            emit connectRequested(int(i));
            break;
        }
    }
    accept();
}

} // namespace config
