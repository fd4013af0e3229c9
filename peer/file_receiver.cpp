#include "peer/file_receiver.h"

#include "irc/dcc_offer.h"

#include <QTcpSocket>

namespace peer {

namespace {

// Large reads keep up with senders that do not wait for acknowledgements.
constexpr qint64 kReadBytes = 256 * 1024;

} // namespace

FileReceiver::FileReceiver(const QByteArray& peerNick, const QString& path, quint64 size,
                           QObject* parent)
    : Transfer(parent)
    , m_file(path)
    , m_count(size)
{
    m_record.peerNick = peerNick;
    m_record.path = path;
    m_record.baseName = QString::fromUtf8(irc::GetBaseName(path.toUtf8()));
    m_record.size = size;
}

FileReceiver::~FileReceiver()
{
    release();
}

bool FileReceiver::open()
{
    // Written fresh: appending to whatever the file held would mix two files into one.
    // Unbuffered, so that a full disk shows at the write that failed, before it is acknowledged.
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

void FileReceiver::connectTo(const QHostAddress& address, quint16 port)
{
    auto* socket = new QTcpSocket(this);
    m_socket = socket;
    m_buffer.resize(kReadBytes);
    connect(socket, &QTcpSocket::connected, this, [this] {
        // Each acknowledgement is awaited by the sender: none may wait in Nagle's queue.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        setStatus(Status::Running);
    });
    connect(socket, &QTcpSocket::readyRead, this, &FileReceiver::readData);
    connect(socket, &QTcpSocket::disconnected, this, &FileReceiver::peerClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (!m_socket || m_socket->state() != QAbstractSocket::UnconnectedState)
            return;
        if (status() == Status::Connecting)
            stop(TransferError::ConnectFailed, m_socket->errorString());
        else
            peerClosed();
    });
    setStatus(Status::Connecting);
    startClock();
    // Unbuffered: reads come straight from the kernel into our buffer.
    socket->connectToHost(address, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void FileReceiver::readData()
{
    bool got = false;
    bool ended = false;
    // Until the socket has nothing more: an unbuffered read then gives 0.
    while (m_socket && !isFinished()) {
        const qint64 read = m_socket->read(m_buffer.data(), m_buffer.size());
        // An unbuffered socket reports the peer's close here, not by disconnected().
        ended = read < 0;
        if (read <= 0)
            break;
        // A sender that goes on past the offered size gets nothing more stored.
        const qint64 keep = m_count.take(read);
        if (keep > 0 && m_file.write(m_buffer.constData(), keep) != keep) {
            // Acknowledging what was not stored would tell the sender a lie.
            stop(TransferError::WriteFailed, m_file.errorString());
            return;
        }
        got = true;
    }
    if (got && !isFinished()) {
        const auto ack = encodeAck(m_count.count());
        m_socket->write(ack.data(), qint64(ack.size()));
        setCount(m_count.count());
        if (m_count.complete())
            setStatus(Status::Complete);
    }
    if (ended && !isFinished())
        peerClosed();
}

void FileReceiver::peerClosed()
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        readData();
    if (isFinished())
        return;
    if (m_count.complete())
        setStatus(Status::Complete);
    else
        stop(TransferError::PeerClosed);
}

void FileReceiver::release()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->disconnectFromHost();
    }
    // What was received stays on disk, even when the transfer stopped.
    m_file.close();
}

} // namespace peer
