#include "peer/transfer/file_receiver.h"

#include "irc/dcc_offer.h"
#include "peer/common/chat_host.h"
#include "peer/transfer/data_link.h"
#include "peer/transfer/transfer_pump.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace peer {

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
    m_resumeWait.setSingleShot(true);
    m_resumeWait.setInterval(kResumeWaitMs);
    connect(&m_resumeWait, &QTimer::timeout, this,
            [this] { stop(TransferError::ResumeUnanswered); });
    connect(&endpoint(), &DccEndpoint::peerConnected, this, &FileReceiver::accept);
}

FileReceiver::~FileReceiver()
{
    release();
}

bool FileReceiver::open(quint64 start)
{
    // Written fresh unless resumed: appending to whatever the file held would mix two files.
    m_openFailure = m_file.open(start);
    if (m_openFailure)
        return false;
    m_count = ReceiveCount(m_record.size, start);
    m_record.count = m_count.count();
    return true;
}

void FileReceiver::awaitResume()
{
    m_resumeWait.start();
}

void FileReceiver::resumeAccepted()
{
    m_resumeWait.stop();
}

void FileReceiver::connectTo(const QHostAddress& address, quint16 port)
{
    QTcpSocket* socket = DccEndpoint::newSocket(m_host, this);
    if (!socket) {
        stop(TransferError::PeerRefused, tr("no certificate of our own for a private link"));
        return;
    }
    m_socket = socket;
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
    if (m_host) {
        attach(socket);
        static_cast<QSslSocket*>(socket)->connectToHostEncrypted(address.toString(), port);
        return;
    }
    connect(socket, &QTcpSocket::connected, this, [this, socket] { attach(socket); });
    // Unbuffered: reads come straight from the kernel into our buffer.
    socket->connectToHost(address, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

std::optional<DccEndpoint::Failure> FileReceiver::answer(ChatHost& host, const irc::DccOffer& offer)
{
    const auto failure = endpoint().answer(host, offer, listening());
    m_record.port = endpoint().ours().port;
    if (m_record.port != 0)
        startClock();
    return failure;
}

void FileReceiver::accept(QTcpSocket* socket)
{
    if (m_socket)
        return;
    m_socket = socket;
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
            peerClosed();
    });
    attach(socket);
}

void FileReceiver::attach(QTcpSocket* socket)
{
    m_socket = socket;
    // Nothing is stored before the handshake and the pin say who sends it.
    whenTrusted(socket, [this] { begin(); });
}

void FileReceiver::begin()
{
    if (!m_socket || isFinished())
        return;
    // Each acknowledgement is awaited by the sender: none may wait in Nagle's queue.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    setStatus(Status::Running);
    if (isFinished())
        return;
    takeLink(m_socket, [this](std::unique_ptr<DataLink> link, QByteArray early) {
        m_socket = nullptr;
        if (!link) {
            // Gone before a byte was read: whole only when nothing was offered (or left).
            if (m_count.complete())
                finishFile();
            else
                stop(TransferError::PeerClosed);
            return;
        }
        run(std::make_unique<ReceivePump>(std::move(link), std::move(early), m_file, m_count));
    });
}

void FileReceiver::peerClosed()
{
    if (isFinished())
        return;
    stop(status() == Status::Connecting ? TransferError::ConnectFailed : TransferError::PeerClosed);
}

void FileReceiver::finishFile()
{
    if (const auto failure = m_file.complete()) {
        stop(failure->error, failure->detail);
        return;
    }
    setStatus(Status::Complete);
}

QString FileReceiver::keptPart() const
{
    // Whatever arrived, or was there to resume from, stays under the part's name.
    return status() == Status::Stopped && m_file.isKept() ? m_file.path() : QString();
}

void FileReceiver::release()
{
    haltData();
    m_resumeWait.stop();
    endpoint().close();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->disconnectFromHost();
    }
    // What was received stays on disk, even when the transfer stopped.
    m_file.close();
}

} // namespace peer
