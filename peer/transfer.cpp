#include "peer/transfer.h"

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

void Transfer::setCount(quint64 count)
{
    m_record.count = count;
    emit progressed(count);
}

} // namespace peer
