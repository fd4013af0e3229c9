#include "peer/transfer/file_sender.h"

#include "irc/dcc_offer.h"
#include "peer/common/chat_host.h"
#include "peer/transfer/data_link.h"
#include "peer/transfer/transfer_pump.h"

#include <QSslSocket>
#include <QTcpSocket>

#include <limits>

namespace peer {

namespace {

// With fast send only the kernel's send buffer bounds what is unacknowledged, as with other
// clients that stream: the window itself never closes.
qint64 windowBytes(bool fast)
{
    return fast ? std::numeric_limits<qint64>::max() : kTransferBlockBytes;
}

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
    m_window = SendWindow(m_record.size, windowBytes(m_fast));
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
    m_window = SendWindow(m_record.size, windowBytes(m_fast), position);
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
    startClock();
    setStatus(Status::Running);
    if (isFinished())
        return;
    if (m_window.complete()) {
        // Nothing to send: an empty file, or a resume at its end, is complete at once.
        setCount(m_window.acked());
        setStatus(Status::Complete);
        return;
    }
    takeLink(socket, [this](std::unique_ptr<DataLink> link, QByteArray early) {
        m_socket = nullptr;
        if (!link) {
            stop(TransferError::PeerClosed);
            return;
        }
        run(std::make_unique<SendPump>(std::move(link), std::move(early), int(m_file.handle()),
                                       m_window));
    });
}

void FileSender::release()
{
    haltData();
    endpoint().close();
    if (m_socket) {
        m_socket->disconnect(this);
        // Everything written must still reach the peer before the link closes.
        m_socket->disconnectFromHost();
    }
    m_file.close();
}

} // namespace peer
