#include "peer/transfer/transfers.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/server_events.h"
#include "peer/common/chat_host.h"
#include "peer/transfer/file_receiver.h"
#include "peer/transfer/file_sender.h"
#include "peer/transfer/transfer_window.h"

namespace peer {

namespace {

void refuseResume(const irc::DccResume& resume, const char* why)
{
    diag::DebugLog(QStringLiteral("DCC %1 from %2 refused: %3")
                       .arg(resume.kind == irc::DccResumeKind::Resume ? QStringLiteral("RESUME")
                                                                      : QStringLiteral("ACCEPT"),
                            diag::decodeServerText(resume.sender), QLatin1String(why)));
}

} // namespace

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

Transfers::Entry& Transfers::add(std::unique_ptr<Transfer> transfer, const QWidget* near)
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
        // Said where the user sees it after the window has gone; a cancel is the user's own.
        if (status == Transfer::Status::Stopped && key->error() != TransferError::Cancelled
            && key->error() != TransferError::Declined)
            emit transferStoppedShort(key->record().peerNick, key->record().baseName,
                                      key->keptPart());
    });
    transfer->setDataThread(&m_dataThread);
    Entry entry;
    entry.transfer = std::move(transfer);
    entry.window = window;
    m_entries.push_back(std::move(entry));
    // Every transfer window follows something the user did: a file he sent or an offer he took.
    m_placer->show(window, WindowPlacer::Opener::User, near);
    return m_entries.back();
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

bool Transfers::offerFile(const QByteArray& nick, const QString& path, const QWidget* near)
{
    auto sender = std::make_unique<FileSender>(nick, path, m_fastSend);
    sender->setLinkTimeouts(m_host.linkTimeouts());
    if (!sender->open()) {
        emit failed(TransferError::FileUnreadable);
        return false;
    }
    const bool secure = m_host.privateLinks();
    if (secure) {
        if (!m_host.tlsIdentity()) {
            emit failed(TransferError::NoIdentity);
            return false;
        }
        sender->makePrivate(m_host);
    }
    if (const auto failure = sender->offer(m_host, m_host.passiveOffers())) {
        emit failed(*failure == DccEndpoint::Failure::NoPort ? TransferError::NoPort
                                                             : TransferError::OfferNotSent);
        return false;
    }
    Entry& entry = add(std::move(sender), near);
    entry.sender = static_cast<FileSender*>(entry.transfer.get());
    return true;
}

bool Transfers::receive(const irc::DccOffer& offer, const QString& path, quint64 resumeFrom)
{
    auto receiver = std::make_unique<FileReceiver>(offer.sender, path, offer.size);
    receiver->setLinkTimeouts(m_host.linkTimeouts());
    if (resumeFrom >= offer.size)
        resumeFrom = 0;
    if (!receiver->open(resumeFrom)) {
        const PartFile::Failure& failure = *receiver->openFailure();
        emit failed(failure.error, failure.detail);
        return false;
    }
    if (offer.secure)
        receiver->makePrivate(m_host);
    Entry& entry = add(std::move(receiver));
    entry.receiver = static_cast<FileReceiver*>(entry.transfer.get());
    entry.offer = offer;
    entry.resumeFrom = resumeFrom;
    if (resumeFrom == 0) {
        startReceiving(entry);
        return true;
    }
    // The sender says yes with an ACCEPT; only then does the data start.
    const auto line = irc::formatDccResume(irc::DccResumeKind::Resume, offer.sender, offer.fileName,
                                           offer.port, resumeFrom, offer.token);
    if (!line || !m_host.sendServerLine(*line)) {
        entry.receiver->cancel();
        emit failed(TransferError::OfferNotSent);
        return false;
    }
    entry.awaitingAccept = true;
    entry.receiver->awaitResume();
    return true;
}

void Transfers::startReceiving(Entry& entry)
{
    const irc::DccOffer& offer = entry.offer;
    if (!offer.passive()) {
        entry.receiver->connectTo(offer.address, offer.port);
        return;
    }
    // The sender cannot be reached: we listen, and our answer tells it where.
    if (const auto failure = entry.receiver->answer(m_host, offer)) {
        entry.receiver->cancel();
        emit failed(*failure == DccEndpoint::Failure::NoPort ? TransferError::NoPort
                                                             : TransferError::OfferNotSent);
    }
}

FileSender* Transfers::waitingForAnswer(const irc::DccOffer& offer) const
{
    for (const Entry& entry : m_entries) {
        if (entry.sender && entry.sender->answeredBy(offer, m_host.nicks()))
            return entry.sender;
    }
    return nullptr;
}

bool Transfers::answersOurOffer(const irc::DccOffer& offer) const
{
    return waitingForAnswer(offer) != nullptr;
}

void Transfers::takeAnswer(const irc::DccOffer& offer)
{
    if (FileSender* sender = waitingForAnswer(offer))
        sender->connectTo(offer.address, offer.port);
}

void Transfers::takeResume(const irc::DccResume& resume)
{
    if (resume.kind == irc::DccResumeKind::Resume)
        resumeOurOffer(resume);
    else
        acceptedResume(resume);
}

void Transfers::resumeOurOffer(const irc::DccResume& resume)
{
    if (!resume.position) {
        refuseResume(resume, "its position is not a number");
        return;
    }
    for (Entry& entry : m_entries) {
        FileSender* sender = entry.sender;
        if (!sender || !resumeNamesOffer(sender->ours(), resume, m_host.nicks()))
            continue;
        if (!sender->resumeAt(*resume.position)) {
            refuseResume(resume, "its position lies past the end of the file");
            return;
        }
        const auto line =
            irc::formatDccResume(irc::DccResumeKind::Accept, resume.sender, resume.fileName,
                                 resume.port, *resume.position, resume.token);
        if (line)
            m_host.sendServerLine(*line);
        return;
    }
    refuseResume(resume, "it matches no offer of ours");
}

void Transfers::acceptedResume(const irc::DccResume& resume)
{
    for (Entry& entry : m_entries) {
        if (!entry.awaitingAccept || entry.receiver->isFinished()
            || !acceptAnswersResume(entry.offer, resume, m_host.nicks()))
            continue;
        // Agreeing to another position than the one asked for would splice the file wrongly.
        if (resume.position != entry.resumeFrom) {
            refuseResume(resume, "its position is not the one asked for");
            return;
        }
        entry.awaitingAccept = false;
        entry.receiver->resumeAccepted();
        startReceiving(entry);
        return;
    }
    refuseResume(resume, "it answers no resume of ours");
}

void Transfers::closeAll()
{
    for (Entry& entry : m_entries)
        delete entry.window.data();
    m_entries.clear();
}

void Transfers::takeReject(const irc::DccReject& reject)
{
    for (Entry& entry : m_entries) {
        FileSender* sender = entry.sender;
        if (sender && rejectDeclinesOffer(sender->ours(), reject, m_host.nicks())
            && irc::rejectNamesFile(reject, sender->record().baseName.toUtf8())) {
            sender->decline();
            return;
        }
    }
}

void Transfers::follow(irc::ServerEvents& events)
{
    connect(&events, &irc::ServerEvents::dccResume, this, &Transfers::takeResume);
    connect(&events, &irc::ServerEvents::dccReject, this, &Transfers::takeReject);
}

} // namespace peer
