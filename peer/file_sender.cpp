#include "peer/file_sender.h"

#include "irc/dcc_offer.h"
#include "peer/chat_host.h"
#include "peer/listen.h"
#include "peer/private_link.h"

#include <QSslSocket>
#include <QTcpServer>
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
    PeerServer* server = openListener(ports);
    if (!server)
        return std::nullopt;
    m_server = server;
    m_record.port = server->serverPort();
    connect(server, &QTcpServer::newConnection, this, &FileSender::accept);
    return m_record.port;
}

void FileSender::awaitAnswer(const QByteArray& token)
{
    m_token = token;
    // Nothing listens on our side, but an answer that never comes must end the wait all the same.
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        if (status() == Status::Awaiting && !m_socket)
            stop(TransferError::OfferExpired, expiredText(linkTimeouts().listen));
    });
    m_answerTimer.start(linkTimeouts().listen);
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
    QTcpSocket* socket = m_host ? newPrivateSocket(*m_host, this) : new QTcpSocket(this);
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

void FileSender::accept()
{
    QTcpSocket* socket = m_server ? m_server->nextPendingConnection() : nullptr;
    if (!socket || m_socket)
        return;
    // One peer per offer: the listening socket goes as soon as it has served.
    m_server->close();
    m_server->deleteLater();
    socket->setParent(this);
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
    m_answerTimer.stop();
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
