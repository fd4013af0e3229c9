#include "peer/transfer/transfer_pump.h"

#include "peer/transfer/part_file.h"

#include <QCoreApplication>
#include <QThread>

namespace peer {

namespace {

// The largest piece handed to the kernel in one call: big enough that a fast send costs few
// system calls, small enough that one transfer never keeps the others on its thread waiting.
constexpr qint64 kPieceBytes = 1024 * 1024;
// Reads of a receiving transfer before it lets the thread's other transfers have their turn.
constexpr int kReadsPerWake = 4;
constexpr qint64 kReadBytes = 256 * 1024;
// A stop-and-wait peer answers a block within tens of microseconds on a quiet link; a wait that
// long beats the event loop's dispatch, and one wake keeps the thread no longer than a turn, so
// that the thread's other transfers and a halt are served.
constexpr int kAnswerWaitMicros = 300;
constexpr qint64 kTurnNanos = 2'000'000;

} // namespace

TransferPump::TransferPump(std::unique_ptr<DataLink> link, QByteArray early)
    : m_link(link.release())
    , m_early(std::move(early))
    , m_lateReport(new QTimer(this))
{
    m_link->setParent(this);
    m_lateReport->setSingleShot(true);
    connect(m_lateReport, &QTimer::timeout, this, [this] {
        m_sinceReport.start();
        emit progressed(m_outcome.count);
    });
}

TransferPump::~TransferPump() = default;

void TransferPump::launch()
{
    QMetaObject::invokeMethod(this, &TransferPump::start, Qt::QueuedConnection);
}

void TransferPump::start()
{
    if (m_ended)
        return;
    m_running = true;
    const QByteArray early = std::exchange(m_early, {});
    begin(early);
}

void TransferPump::halt()
{
    QThread* const owner = QThread::currentThread();
    if (thread() == owner) {
        stop();
        return;
    }
    // The pump comes back with its link closed, so that its owner may delete it at once.
    QMetaObject::invokeMethod(
        this,
        [this, owner] {
            stop();
            moveToThread(owner);
        },
        Qt::BlockingQueuedConnection);
}

bool TransferPump::awaitAnswer()
{
    if (!isRunning() || QThread::currentThread() == QCoreApplication::instance()->thread())
        return false;
    if (!m_turn.isValid() || m_turn.nsecsElapsed() > kTurnNanos)
        return false;
    return m_link->waitReadable(kAnswerWaitMicros);
}

void TransferPump::stop()
{
    m_running = false;
    m_ended = true;
    m_lateReport->stop();
    m_link->close();
}

void TransferPump::finish(const Outcome& outcome)
{
    if (m_ended)
        return;
    m_outcome = outcome;
    stop();
    emit ended();
}

void TransferPump::report(quint64 count)
{
    m_outcome.count = count;
    // The first report goes at once: the window learns that the data flows.
    const qint64 since = m_sinceReport.isValid() ? m_sinceReport.elapsed() : kProgressMs;
    if (since < kProgressMs) {
        if (!m_lateReport->isActive())
            m_lateReport->start(int(kProgressMs - since));
        return;
    }
    m_lateReport->stop();
    m_sinceReport.start();
    emit progressed(count);
}

void TransferPump::fail(TransferError error, const QString& detail)
{
    Outcome outcome;
    outcome.error = error;
    outcome.detail = detail;
    outcome.count = m_outcome.count;
    finish(outcome);
}

SendPump::SendPump(std::unique_ptr<DataLink> link, QByteArray early, int fileFd,
                   const SendWindow& window)
    : TransferPump(std::move(link), std::move(early))
    , m_fd(fileFd)
    , m_window(window)
{}

void SendPump::begin(const QByteArray& early)
{
    connect(m_link, &DataLink::readable, this, &SendPump::readAcks);
    connect(m_link, &DataLink::writable, this, &SendPump::fill);
    report(m_window.acked());
    if (!early.isEmpty() && !take(early))
        return;
    fill();
}

void SendPump::fill()
{
    // The window decides how much may be in flight: one block in the default mode, whatever
    // the kernel takes with fast send.
    while (isRunning()) {
        const auto chunk = m_window.next(kPieceBytes);
        if (!chunk)
            return;
        const DataLink::Sent sent = m_link->sendFile(m_fd, chunk->offset, chunk->length);
        switch (sent.result) {
        case DataLink::Sent::Result::Sent:
            m_window.sent(sent.bytes);
            break;
        case DataLink::Sent::Result::Full:
            return;
        case DataLink::Sent::Result::FileEnded:
            // The file shrank under us: what the offer promised cannot be sent.
            fail(TransferError::ReadFailed,
                 QCoreApplication::translate("peer::FileSender",
                                             "the file is shorter than offered"));
            return;
        case DataLink::Sent::Result::FileFailed:
            fail(TransferError::ReadFailed, m_link->errorString());
            return;
        case DataLink::Sent::Result::LinkFailed:
            fail(TransferError::PeerClosed);
            return;
        }
    }
}

void SendPump::readAcks()
{
    beginTurn();
    // Until the link has nothing more: only the newest acknowledgement counts. One block at a
    // time, the next acknowledgement is awaited here for a moment.
    char bytes[4096];
    while (isRunning()) {
        const qint64 got = m_link->read(bytes, sizeof bytes);
        if (got < 0) {
            fail(TransferError::PeerClosed);
            return;
        }
        if (got > 0 && !take(QByteArrayView(bytes, got)))
            return;
        const bool drained = got == 0 || (got < qint64(sizeof bytes) && !m_link->holdsUnread());
        if (drained && (m_window.streams() || !awaitAnswer()))
            return;
    }
}

bool SendPump::take(QByteArrayView bytes)
{
    const auto ack = m_acks.feed(bytes, m_window);
    if (!ack)
        return true;
    switch (ack->wide ? m_window.acknowledgeWide(ack->value)
                      : m_window.acknowledge(quint32(ack->value))) {
    case SendWindow::Ack::Stale:
        return true;
    case SendWindow::Ack::BeyondSent:
        fail(TransferError::BeyondSent);
        return false;
    case SendWindow::Ack::Complete: {
        Outcome outcome;
        outcome.complete = true;
        outcome.count = m_window.acked();
        finish(outcome);
        return false;
    }
    case SendWindow::Ack::Progress:
        report(m_window.acked());
        fill();
        return isRunning();
    }
    return true;
}

ReceivePump::ReceivePump(std::unique_ptr<DataLink> link, QByteArray early, PartFile& file,
                         const ReceiveCount& count)
    : TransferPump(std::move(link), std::move(early))
    , m_file(file)
    , m_count(count)
    , m_buffer(kReadBytes, Qt::Uninitialized)
{}

void ReceivePump::begin(const QByteArray& early)
{
    connect(m_link, &DataLink::readable, this, &ReceivePump::readData);
    report(m_count.count());
    // A TLS handshake may have carried the first data in with it.
    if (!early.isEmpty() && (!store(early.constData(), early.size()) || !acknowledge()))
        return;
    readData();
}

void ReceivePump::readData()
{
    beginTurn();
    // A sender that waits for each acknowledgement sends its next block at once: it is
    // awaited here for a moment before the thread goes back to its event loop.
    while (readWhatIsThere() && awaitAnswer()) {
    }
}

bool ReceivePump::readWhatIsThere()
{
    // One acknowledgement for all a wake brought in, as a receiver that reads until nothing
    // is left sends it.
    bool stored = false;
    bool closed = false;
    qint64 lastRead = 0;
    for (int reads = 0; reads < kReadsPerWake && isRunning(); ++reads) {
        const qint64 got = m_link->read(m_buffer.data(), m_buffer.size());
        if (got == 0)
            break;
        if (got < 0) {
            closed = true;
            break;
        }
        if (!store(m_buffer.constData(), got))
            return false;
        stored = true;
        lastRead = got;
        // A short read emptied the kernel's queue: asking again would only say so.
        if (m_count.complete() || (got < m_buffer.size() && !m_link->holdsUnread()))
            break;
    }
    if (stored && !acknowledge())
        return false;
    if (closed) {
        peerClosed();
        return false;
    }
    // A link that holds what it read itself says so by no new wake: come back for the rest.
    if (isRunning() && m_link->holdsUnread()) {
        QMetaObject::invokeMethod(this, &ReceivePump::readData, Qt::QueuedConnection);
        return false;
    }
    return stored && lastRead <= kTransferBlockBytes;
}

bool ReceivePump::store(const char* data, qint64 size)
{
    // A sender that goes on past the offered size gets nothing more stored.
    const qint64 keep = m_count.take(size);
    if (keep > 0 && !m_file.write(data, keep)) {
        // Acknowledging what was not stored would tell the sender a lie.
        fail(TransferError::WriteFailed, m_file.errorString());
        return false;
    }
    return true;
}

bool ReceivePump::acknowledge()
{
    const auto ack = encodeAck(m_count.count());
    if (!m_link->write(ack.data(), qint64(ack.size()))) {
        peerClosed();
        return false;
    }
    report(m_count.count());
    if (m_count.complete()) {
        Outcome outcome;
        outcome.complete = true;
        outcome.count = m_count.count();
        finish(outcome);
        return false;
    }
    return true;
}

void ReceivePump::peerClosed()
{
    // Everything offered arrived before the close: the transfer is whole all the same.
    if (m_count.complete()) {
        Outcome outcome;
        outcome.complete = true;
        outcome.count = m_count.count();
        finish(outcome);
        return;
    }
    fail(TransferError::PeerClosed);
}

} // namespace peer
