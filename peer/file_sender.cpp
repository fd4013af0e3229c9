#include "peer/file_sender.h"

#include "irc/dcc_offer.h"
#include "peer/chat_host.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace peer {

namespace {

// With fast send, what the socket may hold unsent before we wait for it to drain, and the
// largest piece read from the file at once.
constexpr qint64 kFastQueueBytes = 256 * 1024;
constexpr qint64 kFastPieceBytes = 256 * 1024;

} // namespace

FileSender::FileSender(const QByteArray& peerNick, const QString& path, bool fastSend,
                       QObject* parent)
    : Transfer(parent)
    , m_file(path)
    , m_window(0)
    , m_fast(fastSend)
{
    connect(&endpoint(), &DccEndpoint::peerConnected, this, &FileSender::accept);
    m_record.peerNick = peerNick;
    m_record.path = path;
    m_record.baseName = QString::fromUtf8(irc::GetBaseName(path.toUtf8()));
}

FileSender::~FileSender()
{
    release();
}

bool FileSender::open()
{
    if (!m_file.open(QIODevice::ReadOnly) || m_file.isSequential())
        return false;
    m_record.size = quint64(m_file.size());
    m_window = SendWindow(m_record.size, m_fast ? kFastSendWindowBytes : kTransferBlockBytes);
    m_buffer.resize(m_fast ? kFastPieceBytes : kTransferBlockBytes);
    return true;
}

std::optional<DccEndpoint::Failure> FileSender::offer(ChatHost& host, bool passive)
{
    irc::OutgoingOffer offer;
    offer.kind = irc::DccKind::Send;
    offer.nick = m_record.peerNick;
    offer.baseName = m_record.baseName.toUtf8();
    offer.size = size();
    offer.secure = isPrivate();
    const auto failure =
        endpoint().offer(host, offer, listening(), passive, DccEndpoint::Unanswered::Expires);
    m_record.port = endpoint().ours().port;
    return failure;
}

OurOffer FileSender::ours() const
{
    OurOffer ours = endpoint().ours();
    ours.kind = irc::DccKind::Send;
    ours.nick = m_record.peerNick;
    ours.port = m_record.port;
    ours.open = status() == Status::Awaiting;
    return ours;
}

std::optional<quint16> FileSender::listen(const QList<quint16>& ports)
{
    const auto port = endpoint().listen(listening(), ports);
    if (port)
        m_record.port = *port;
    return port;
}

QString FileSender::expiredText(std::chrono::milliseconds waited) const
{
    return offerUnansweredText(m_record.peerNick, waited);
}

bool FileSender::resumeAt(quint64 position)
{
    if (status() != Status::Awaiting || m_socket || position > m_record.size)
        return false;
    m_window =
        SendWindow(m_record.size, m_fast ? kFastSendWindowBytes : kTransferBlockBytes, position);
    m_acks = AckReader();
    setCount(position);
    return true;
}

void FileSender::connectTo(const QHostAddress& address, quint16 port)
{
    if (status() != Status::Awaiting || m_socket)
        return;
    endpoint().answered();
    QTcpSocket* socket = DccEndpoint::newSocket(m_host, this);
    if (!socket) {
        stop(TransferError::PeerRefused, tr("no certificate of our own for a private link"));
        return;
    }
    setStatus(Status::Connecting);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (status() == Status::Connecting && m_socket
            && m_socket->state() == QAbstractSocket::UnconnectedState)
            stop(TransferError::ConnectFailed, m_socket->errorString());
    });
    if (m_host) {
        attach(socket);
        static_cast<QSslSocket*>(socket)->connectToHostEncrypted(address.toString(), port);
        return;
    }
    connect(socket, &QTcpSocket::connected, this, [this, socket] { attach(socket); });
    m_socket = socket;
    socket->connectToHost(address, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void FileSender::accept(QTcpSocket* socket)
{
    if (m_socket)
        return;
    attach(socket);
}

void FileSender::attach(QTcpSocket* socket)
{
    m_socket = socket;
    // The data waits for the handshake and the pin.
    whenTrusted(socket, [this] { begin(); });
}

void FileSender::begin()
{
    QTcpSocket* socket = m_socket;
    if (!socket || isFinished())
        return;
    // One small block, then a wait for its acknowledgement: nothing may sit in Nagle's queue.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &FileSender::readAcks);
    connect(socket, &QTcpSocket::bytesWritten, this, &FileSender::fill);
    connect(socket, &QTcpSocket::disconnected, this, [this] { stop(TransferError::PeerClosed); });
    startClock();
    setStatus(Status::Running);
    if (m_window.complete()) {
        // Nothing to send: an empty file, or a resume at its end, is complete at once.
        setCount(m_window.acked());
        setStatus(Status::Complete);
        return;
    }
    fill();
}

void FileSender::fill()
{
    if (!m_socket || status() != Status::Running)
        return;
    // Default mode: one block, then wait. Fast send: keep the socket's queue topped up.
    while (m_socket && (!m_fast || m_socket->bytesToWrite() < kFastQueueBytes)) {
        const auto chunk = m_window.next(m_buffer.size());
        if (!chunk)
            return;
        if (m_file.pos() != qint64(chunk->offset) && !m_file.seek(qint64(chunk->offset))) {
            stop(TransferError::ReadFailed, m_file.errorString());
            return;
        }
        const qint64 read = m_file.read(m_buffer.data(), chunk->length);
        if (read <= 0) {
            // The file shrank or failed under us: what the offer promised cannot be sent.
            stop(TransferError::ReadFailed,
                 read < 0 ? m_file.errorString() : tr("the file is shorter than offered"));
            return;
        }
        if (m_socket->write(m_buffer.constData(), read) != read) {
            stop(TransferError::PeerClosed);
            return;
        }
        m_window.sent(read);
        if (!m_fast)
            return;
    }
}

void FileSender::readAcks()
{
    // Read until the socket has nothing more (an unbuffered read then gives 0): asking for the
    // count first would cost a system call per block.
    while (m_socket && status() == Status::Running) {
        char bytes[4096];
        const qint64 got = m_socket->read(bytes, sizeof bytes);
        if (got < 0) {
            // An unbuffered socket reports the peer's close here, not by disconnected().
            stop(TransferError::PeerClosed);
            return;
        }
        if (got == 0)
            return;
        const auto ack = m_acks.feed(QByteArrayView(bytes, got), m_window);
        if (!ack)
            continue;
        switch (ack->wide ? m_window.acknowledgeWide(ack->value)
                          : m_window.acknowledge(quint32(ack->value))) {
        case SendWindow::Ack::Stale:
            break;
        case SendWindow::Ack::BeyondSent:
            stop(TransferError::BeyondSent);
            return;
        case SendWindow::Ack::Complete:
            setCount(m_window.acked());
            setStatus(Status::Complete);
            return;
        case SendWindow::Ack::Progress:
            setCount(m_window.acked());
            fill();
            break;
        }
    }
}

void FileSender::release()
{
    endpoint().close();
    if (m_socket) {
        m_socket->disconnect(this);
        // Everything written must still reach the peer before the link closes.
        m_socket->disconnectFromHost();
    }
    m_file.close();
}

} // namespace peer
