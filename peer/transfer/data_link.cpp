#include "peer/transfer/data_link.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace peer {

namespace {

// A private link that still has data to hand over when its transfer ends stays this long at
// most, to flush it.
constexpr int kLingerMs = 30'000;
// What a TLS socket may hold unsent before sendFile() says Full.
constexpr qint64 kQueueBytes = 256 * 1024;
// What a TLS socket may hold decrypted before it stops reading from the kernel.
constexpr qint64 kReadBufferBytes = 1024 * 1024;

thread_local QObject* t_lingerHome = nullptr;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// A plain TCP link on a descriptor of our own.
class RawLink final : public DataLink
{
public:
    explicit RawLink(int fd)
        : m_fd(fd)
        , m_readNotifier(fd, QSocketNotifier::Read, this)
        , m_writeNotifier(fd, QSocketNotifier::Write, this)
    {
        m_writeNotifier.setEnabled(false);
        connect(&m_readNotifier, &QSocketNotifier::activated, this, &DataLink::readable);
        connect(&m_writeNotifier, &QSocketNotifier::activated, this, &RawLink::flush);
    }
    ~RawLink() override { close(); }

    qint64 read(char* data, qint64 max) override
    {
        if (m_fd < 0)
            return -1;
        const ssize_t got = ::recv(m_fd, data, size_t(max), 0);
        if (got > 0)
            return got;
        if (got < 0 && wouldBlock(errno))
            return 0;
        if (got < 0)
            m_error = errnoText(errno);
        // At its end a descriptor stays readable: nobody needs to hear it again.
        m_readNotifier.setEnabled(false);
        return -1;
    }

    bool write(const char* data, qint64 size) override
    {
        if (m_fd < 0)
            return false;
        qint64 done = 0;
        if (m_pending.isEmpty()) {
            const ssize_t sent = ::send(m_fd, data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && !wouldBlock(errno)) {
                m_error = errnoText(errno);
                return false;
            }
            done = std::max<qint64>(sent, 0);
        }
        if (done < size) {
            m_pending.append(data + done, size - done);
            m_writeNotifier.setEnabled(true);
        }
        return true;
    }

    Sent sendFile(int fd, quint64 offset, qint64 length) override
    {
        if (m_fd < 0)
            return {Sent::Result::LinkFailed, 0};
        if (!m_pending.isEmpty())
            return waitForRoom();
        off_t from = off_t(offset);
        const ssize_t sent = ::sendfile(m_fd, fd, &from, size_t(length));
        if (sent > 0)
            return {Sent::Result::Sent, sent};
        if (sent == 0)
            return {Sent::Result::FileEnded, 0};
        const int error = errno;
        if (wouldBlock(error))
            return waitForRoom();
        m_error = errnoText(error);
        // The errors of the socket are its own; anything else came from reading the file.
        const bool linkError = error == EPIPE || error == ECONNRESET || error == ENOTCONN
                               || error == ETIMEDOUT || error == EHOSTUNREACH;
        return {linkError ? Sent::Result::LinkFailed : Sent::Result::FileFailed, 0};
    }

    QString errorString() const override { return m_error; }

    bool waitReadable(int micros) override
    {
        if (m_fd < 0)
            return false;
        pollfd want{m_fd, POLLIN, 0};
        const timespec timeout{0, long(micros) * 1000};
        return ::ppoll(&want, 1, &timeout, nullptr) > 0;
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        // A last acknowledgement the kernel could not take at once still goes, if it can.
        if (!m_pending.isEmpty())
            ::send(m_fd, m_pending.constData(), size_t(m_pending.size()),
                   MSG_NOSIGNAL | MSG_DONTWAIT);
        m_readNotifier.setEnabled(false);
        m_writeNotifier.setEnabled(false);
        // The kernel delivers what it holds before the FIN: nothing written is lost.
        ::close(m_fd);
        m_fd = -1;
    }

private:
    Sent waitForRoom()
    {
        m_wantRoom = true;
        m_writeNotifier.setEnabled(true);
        return {Sent::Result::Full, 0};
    }

    void flush()
    {
        while (!m_pending.isEmpty() && m_fd >= 0) {
            const ssize_t sent = ::send(m_fd, m_pending.constData(), size_t(m_pending.size()),
                                        MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0) {
                if (wouldBlock(errno))
                    return;
                // Said by the next read, which finds the link gone.
                m_error = errnoText(errno);
                m_pending.clear();
                m_writeNotifier.setEnabled(false);
                emit readable();
                return;
            }
            m_pending.remove(0, sent);
        }
        m_writeNotifier.setEnabled(false);
        if (m_wantRoom) {
            m_wantRoom = false;
            emit writable();
        }
    }

    int m_fd;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    QByteArray m_pending;
    bool m_wantRoom = false;
    QString m_error;
};

// A private link: Qt's TLS socket, moved with its transfer.
class SocketLink final : public DataLink
{
public:
    explicit SocketLink(QTcpSocket* socket)
        : m_socket(socket)
        , m_buffer(kQueueBytes, Qt::Uninitialized)
    {
        socket->setParent(this);
        // Qt would otherwise take in all a streaming sender sends, however far we fall behind:
        // bounded, the kernel's window holds the sender back.
        socket->setReadBufferSize(kReadBufferBytes);
        connect(socket, &QIODevice::readyRead, this, &DataLink::readable);
        connect(socket, &QAbstractSocket::disconnected, this, &DataLink::readable);
        connect(socket, &QIODevice::bytesWritten, this, [this] {
            if (m_full && m_socket->bytesToWrite() < kQueueBytes) {
                m_full = false;
                emit writable();
            }
        });
    }
    ~SocketLink() override { close(); }

    qint64 read(char* data, qint64 max) override
    {
        if (!m_socket)
            return -1;
        if (m_socket->bytesAvailable() == 0)
            return m_socket->state() == QAbstractSocket::ConnectedState ? 0 : -1;
        return m_socket->read(data, max);
    }

    bool write(const char* data, qint64 size) override
    {
        return m_socket && m_socket->state() == QAbstractSocket::ConnectedState
               && m_socket->write(data, size) == size;
    }

    Sent sendFile(int fd, quint64 offset, qint64 length) override
    {
        if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
            return {Sent::Result::LinkFailed, 0};
        if (m_socket->bytesToWrite() >= kQueueBytes) {
            m_full = true;
            return {Sent::Result::Full, 0};
        }
        const ssize_t got = ::pread(
            fd, m_buffer.data(), size_t(std::min<qint64>(length, m_buffer.size())), off_t(offset));
        if (got < 0) {
            m_error = errnoText(errno);
            return {Sent::Result::FileFailed, 0};
        }
        if (got == 0)
            return {Sent::Result::FileEnded, 0};
        if (m_socket->write(m_buffer.constData(), got) != got)
            return {Sent::Result::LinkFailed, 0};
        return {Sent::Result::Sent, got};
    }

    bool holdsUnread() const override { return m_socket && m_socket->bytesAvailable() > 0; }
    bool canMove() const override { return false; }
    QString errorString() const override
    {
        return m_error.isEmpty() && m_socket ? m_socket->errorString() : m_error;
    }

    void close() override
    {
        QTcpSocket* socket = m_socket;
        if (!socket)
            return;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState) {
            // Later: this may run inside one of the socket's own signals.
            socket->setParent(nullptr);
            socket->deleteLater();
            return;
        }
        // Still flushing (a receiver's last acknowledgement, which its sender waits for): it
        // stays, under the thread's care, until it is done or given up.
        QObject* home = t_lingerHome;
        QCoreApplication* application = QCoreApplication::instance();
        if (!home && application && application->thread() == QThread::currentThread())
            home = application;
        socket->setParent(home);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }

private:
    QPointer<QTcpSocket> m_socket;
    QByteArray m_buffer;
    bool m_full = false;
    QString m_error;
};

// A link whose peer has closed already: what it sent came in `early`.
class ClosedLink final : public DataLink
{
public:
    qint64 read(char*, qint64) override { return -1; }
    bool write(const char*, qint64) override { return false; }
    Sent sendFile(int, quint64, qint64) override { return {Sent::Result::LinkFailed, 0}; }
    QString errorString() const override { return {}; }
    void close() override {}
};

} // namespace

DataLink::~DataLink() = default;

void setLingerHome(QObject* home)
{
    t_lingerHome = home;
}

std::unique_ptr<DataLink> takeDataLink(QTcpSocket* socket, QByteArray& early)
{
    // A peer that vanishes mid-send must end the transfer, not the program.
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { std::signal(SIGPIPE, SIG_IGN); });
    if (!socket)
        return nullptr;
    // What a private link decrypted before its peer closed is still the peer's data.
    if (socket->bytesAvailable() > 0)
        early = socket->read(socket->bytesAvailable());
    if (socket->state() != QAbstractSocket::ConnectedState)
        return early.isEmpty() ? nullptr : std::make_unique<ClosedLink>();
    socket->disconnect();
    if (qobject_cast<QSslSocket*>(socket)) {
        socket->flush();
        socket->setParent(nullptr);
        return std::make_unique<SocketLink>(socket);
    }
    const int fd = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    // Qt closes its descriptor only; the connection lives on in ours.
    socket->abort();
    socket->deleteLater();
    if (fd < 0)
        return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return std::make_unique<RawLink>(fd);
}

} // namespace peer
