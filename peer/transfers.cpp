#include "peer/transfers.h"

#include "peer/chat_host.h"
#include "peer/file_receiver.h"
#include "peer/file_sender.h"
#include "peer/transfer_window.h"

#include <QRandomGenerator>

namespace peer {

Transfers::Transfers(ChatHost& host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{}

Transfers::~Transfers()
{
    closeAll();
}

Transfer* Transfers::at(int index) const
{
    return m_entries.at(size_t(index)).transfer.get();
}

TransferWindow* Transfers::windowOf(const Transfer* transfer) const
{
    for (const Entry& entry : m_entries) {
        if (entry.transfer.get() == transfer)
            return entry.window;
    }
    return nullptr;
}

void Transfers::add(std::unique_ptr<Transfer> transfer)
{
    auto* window = new TransferWindow(*transfer, m_owner);
    window->setAttribute(Qt::WA_DeleteOnClose);
    const Transfer* key = transfer.get();
    // After the window's own handler has run: the transfer it shows must outlive it.
    connect(
        window, &TransferWindow::dismissed, this, [this, key] { remove(key); },
        Qt::QueuedConnection);
    connect(transfer.get(), &Transfer::statusChanged, this, [this, key](Transfer::Status status) {
        if (status == Transfer::Status::Complete)
            emit transferCompleted(key->record().peerNick, key->record().baseName);
    });
    m_entries.push_back({std::move(transfer), window});
    window->show();
}

void Transfers::remove(const Transfer* transfer)
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->transfer.get() == transfer) {
            delete it->window.data();
            m_entries.erase(it);
            return;
        }
    }
}

bool Transfers::offerFile(const QByteArray& nick, const QString& path)
{
    auto sender = std::make_unique<FileSender>(nick, path, m_fastSend);
    if (!sender->open()) {
        emit failed(TransferError::FileUnreadable);
        return false;
    }
    const auto port = sender->listen(irc::offerPortsToTry(QRandomGenerator::global()->generate()));
    if (!port) {
        emit failed(TransferError::NoPort);
        return false;
    }
    const auto offer = irc::formatFileOffer(nick, sender->record().baseName.toUtf8(),
                                            m_host.offerAddress(), *port, sender->size());
    if (!offer || !m_host.sendServerLine(*offer)) {
        emit failed(TransferError::OfferNotSent);
        return false;
    }
    add(std::move(sender));
    return true;
}

bool Transfers::receive(const irc::DccOffer& offer, const QString& path)
{
    auto receiver = std::make_unique<FileReceiver>(offer.sender, path, offer.size);
    if (!receiver->open()) {
        emit failed(TransferError::DestinationFailed);
        return false;
    }
    FileReceiver* started = receiver.get();
    add(std::move(receiver));
    started->connectTo(QHostAddress(offer.address), offer.port);
    return true;
}

void Transfers::closeAll()
{
    for (Entry& entry : m_entries)
        delete entry.window.data();
    m_entries.clear();
}

} // namespace peer
