#include "peer/transfer.h"

#include "peer/private_link.h"

#include <QSslSocket>

namespace peer {

Transfer::Transfer(QObject* parent)
    : QObject(parent)
{
    m_record.type = TRANSFER_FILE;
}

Transfer::~Transfer() = default;

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

void Transfer::whenTrusted(QTcpSocket* socket, const std::function<void()>& begin)
{
    if (!m_host) {
        begin();
        return;
    }
    watchPrivateLink(*static_cast<QSslSocket*>(socket), *m_host, m_record.peerNick,
                     [this, begin](const PrivateLinkResult& result) {
                         if (!result.trusted) {
                             stop(TransferError::PeerRefused, result.refusal);
                             return;
                         }
                         m_protection = result.protection;
                         m_peerFingerprint = result.fingerprint;
                         begin();
                     });
}

void Transfer::setCount(quint64 count)
{
    m_record.count = count;
    emit progressed(count);
}

} // namespace peer
