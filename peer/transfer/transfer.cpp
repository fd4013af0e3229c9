#include "peer/transfer/transfer.h"

#include "diag/control_escape.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "peer/link/private_link.h"
#include "peer/transfer/data_link.h"
#include "peer/transfer/transfer_pump.h"
#include "peer/transfer/transfer_thread.h"

#include <QCoreApplication>
#include <QSslSocket>

namespace peer {

Transfer::Transfer(QObject* parent)
    : QObject(parent)
    , m_endpoint(new DccEndpoint(this))
{
    m_record.type = TRANSFER_FILE;
    connect(m_endpoint, &DccEndpoint::expired, this, [this](std::chrono::milliseconds waited) {
        stop(TransferError::OfferExpired, expiredText(waited));
    });
}

Transfer::~Transfer()
{
    haltData();
}

qint64 Transfer::elapsedSeconds() const
{
    return m_clock.isValid() ? m_clock.elapsed() / 1000 : 0;
}

void Transfer::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    if (isFinished())
        release();
    emit statusChanged(status);
}

void Transfer::stop(TransferError error, const QString& detail)
{
    if (isFinished())
        return;
    m_error = error;
    m_errorDetail = detail;
    setStatus(Status::Stopped);
}

void Transfer::cancel()
{
    stop(TransferError::Cancelled);
}

void Transfer::decline()
{
    const QString nick = diag::escapeLineBreaks(diag::decodeServerText(m_record.peerNick));
    stop(TransferError::Declined,
         QCoreApplication::translate("peer", text::kDeclinedFile).arg(nick));
}

void Transfer::whenTrusted(QTcpSocket* socket, const std::function<void()>& begin)
{
    if (!m_host) {
        begin();
        return;
    }
    DccEndpoint::watch(socket, *m_host, m_record.peerNick,
                       [this, socket, begin](const PrivateLinkResult& result) {
                           if (result.verdict == PrivateLinkResult::Verdict::Refused) {
                               stop(TransferError::PeerRefused, result.refusal);
                               return;
                           }
                           m_protection = result.protection;
                           m_peerFingerprint = result.fingerprint;
                           m_ownFingerprint = result.ownFingerprint;
                           if (result.verdict == PrivateLinkResult::Verdict::AskUser) {
                               m_heldSocket = socket;
                               m_heldFingerprint = result.fingerprint;
                               m_heldBegin = begin;
                               // A peer that leaves while the user looks is not waited for.
                               connect(socket, &QTcpSocket::disconnected, this, [this] {
                                   if (awaitsPeerKey())
                                       dropHeld(TransferError::PeerClosed, {});
                               });
                               emit peerKeyToAccept();
                               return;
                           }
                           begin();
                       });
}

void Transfer::acceptPeerKey()
{
    auto* socket = qobject_cast<QSslSocket*>(m_heldSocket);
    if (!awaitsPeerKey() || !socket || isFinished() || !m_host)
        return;
    // Whoever it was has gone: nobody is left to pin.
    if (socket->state() != QAbstractSocket::ConnectedState) {
        dropHeld(TransferError::PeerClosed, {});
        return;
    }
    peer::acceptPeerKey(*socket, *m_host, m_record.peerNick, m_heldFingerprint);
    m_heldFingerprint.clear();
    m_heldSocket = nullptr;
    const std::function<void()> begin = std::move(m_heldBegin);
    m_heldBegin = nullptr;
    begin();
}

void Transfer::refusePeerKey()
{
    if (!awaitsPeerKey())
        return;
    const QString refusal = peerKeyRefusedText(m_record.peerNick);
    diag::DebugLog(refusal);
    dropHeld(TransferError::PeerRefused, refusal);
}

void Transfer::dropHeld(TransferError error, const QString& detail)
{
    m_heldFingerprint.clear();
    m_heldSocket = nullptr;
    m_heldBegin = nullptr;
    stop(error, detail);
}

PeerListen Transfer::listening() const
{
    PeerListen how;
    how.buffering = PeerServer::Buffering::Unbuffered;
    how.privateHost = m_host;
    how.nick = m_record.peerNick;
    how.expiry = m_timeouts.listen;
    return how;
}

void Transfer::setDataThread(TransferThread* thread)
{
    m_dataThread = thread;
}

void Transfer::takeLink(QTcpSocket* socket,
                        std::function<void(std::unique_ptr<DataLink>, QByteArray)> take)
{
    // A private link hands its socket over from inside its own handshake signal, with its last
    // handshake bytes perhaps still to flush: the socket moves to the data thread only once
    // that code has returned.
    QPointer<QTcpSocket> guarded = socket;
    QMetaObject::invokeMethod(
        this,
        [this, guarded, take = std::move(take)] {
            if (isFinished())
                return;
            QByteArray early;
            std::unique_ptr<DataLink> link = takeDataLink(guarded, early);
            take(std::move(link), std::move(early));
        },
        Qt::QueuedConnection);
}

void Transfer::run(std::unique_ptr<TransferPump> pump)
{
    m_pump = std::move(pump);
    // Queued even on one thread: the pump's end deletes it, which it must not see from inside.
    connect(
        m_pump.get(), &TransferPump::progressed, this,
        [this](quint64 count) {
            if (!isFinished())
                setCount(count);
        },
        Qt::QueuedConnection);
    connect(m_pump.get(), &TransferPump::ended, this, &Transfer::pumpEnded, Qt::QueuedConnection);
    if (m_dataThread && m_pump->canMove())
        m_pump->moveToThread(m_dataThread->running());
    m_pump->launch();
}

void Transfer::pumpEnded()
{
    if (!m_pump || isFinished())
        return;
    const TransferPump::Outcome outcome = m_pump->outcome();
    if (outcome.count != m_record.count)
        setCount(outcome.count);
    if (outcome.complete)
        dataComplete();
    else
        stop(outcome.error, outcome.detail);
}

void Transfer::haltData()
{
    if (!m_pump)
        return;
    const std::unique_ptr<TransferPump> pump = std::move(m_pump);
    pump->disconnect(this);
    pump->halt();
}

void Transfer::setCount(quint64 count)
{
    m_record.count = count;
    emit progressed(count);
}

} // namespace peer
