#include "peer/file_sender.h"

#include "irc/dcc_offer.h"
#include "peer/listen.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>

namespace peer {

namespace {

// With fast send, what the socket may hold unsent before we wait for it to drain, and the
// largest piece read from the file at once.
constexpr qint64 kFastQueueBytes = 256 * 1024;
constexpr qint64 kFastPieceBytes = 256 * 1024;

// Hands out peers on unbuffered sockets: the file's bytes go from our buffer to the kernel
// without a second copy into the socket's own.
class DirectServer : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState,
                                        QIODevice::ReadWrite | QIODevice::Unbuffered))
            addPendingConnection(socket);
        else
            delete socket;
    }
};

} // namespace

FileSender::FileSender(const QByteArray& peerNick, const QString& path, bool fastSend,
                       QObject* parent)
    : Transfer(parent)
    , m_file(path)
    , m_window(0)
    , m_fast(fastSend)
{
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

std::optional<quint16> FileSender::listen(const QList<quint16>& ports)
{
    auto* server = new DirectServer(this);
    const auto port = listenForPeer(*server, ports);
    if (!port) {
        delete server;
        return std::nullopt;
    }
    m_server = server;
    m_record.port = *port;
    connect(server, &QTcpServer::newConnection, this, &FileSender::accept);
    return port;
}

void FileSender::accept()
{
    QTcpSocket* socket = m_server ? m_server->nextPendingConnection() : nullptr;
    if (!socket || m_socket)
        return;
    // One peer per offer: the listening socket goes as soon as it has served.
    m_server->close();
    m_server->deleteLater();
    socket->setParent(this);
    m_socket = socket;
    // One small block, then a wait for its acknowledgement: nothing may sit in Nagle's queue.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &FileSender::readAcks);
    connect(socket, &QTcpSocket::bytesWritten, this, &FileSender::fill);
    connect(socket, &QTcpSocket::disconnected, this, [this] { stop(TransferError::PeerClosed); });
    startClock();
    setStatus(Status::Running);
    if (m_window.complete()) {
        // Nothing to send: an empty file is complete as soon as the peer is there.
        setCount(0);
        setStatus(Status::Complete);
        return;
    }
    fill();
}

void FileSender::fill()
{
    if (!m_socket || isFinished())
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
    while (m_socket) {
        char bytes[4096];
        const qint64 got = m_socket->read(bytes, sizeof bytes);
        if (got < 0) {
            // An unbuffered socket reports the peer's close here, not by disconnected().
            stop(TransferError::PeerClosed);
            return;
        }
        if (got == 0)
            return;
        const auto wire = m_acks.feed(QByteArrayView(bytes, got));
        if (!wire)
            continue;
        switch (m_window.acknowledge(*wire)) {
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
    if (m_server)
        m_server->close();
    if (m_socket) {
        m_socket->disconnect(this);
        // Everything written must still reach the peer before the link closes.
        m_socket->disconnectFromHost();
    }
    m_file.close();
}

} // namespace peer
