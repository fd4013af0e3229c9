#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTcpSocket;

namespace peer {

// The byte stream of one transfer while its data flows, on whichever thread moves it. Nothing
// here waits: a read takes what is there, a write keeps what the kernel cannot take yet, and
// readable() and writable() say when to try again.
class DataLink : public QObject
{
    Q_OBJECT

public:
    // What one sendFile() call did.
    struct Sent
    {
        enum class Result {
            Sent,       // `bytes` went
            Full,       // nothing went: the link takes no more now (writable() follows)
            FileEnded,  // the file ends before `offset`
            FileFailed, // the file could not be read
            LinkFailed,
        };
        Result result = Result::Sent;
        qint64 bytes = 0;
    };

    ~DataLink() override;

    // > 0 bytes read, 0 when nothing is there yet, -1 when the peer closed or the link failed.
    virtual qint64 read(char* data, qint64 max) = 0;
    // Takes all of `data`, keeping what cannot go yet; false when the link failed.
    virtual bool write(const char* data, qint64 size) = 0;
    // Up to `length` bytes of the open file `fd` from `offset`, without waiting.
    virtual Sent sendFile(int fd, quint64 offset, qint64 length) = 0;
    // Whether bytes already read from the kernel wait here: they bring no new readable().
    virtual bool holdsUnread() const { return false; }
    // Waits at most `micros` for something to read, blocking the thread; false when nothing
    // came (or the link cannot wait). For a stop-and-wait peer whose answer is microseconds
    // away, cheaper than a trip through the event loop.
    virtual bool waitReadable(int micros) { return (void)micros, false; }
    // Whether the link may move to another thread. A TLS socket may not once its handshake
    // has run: its inner socket keeps timers and queued flushes on the thread it began on.
    virtual bool canMove() const { return true; }
    virtual QString errorString() const = 0;
    // Ends the link; what was written still goes to the peer.
    virtual void close() = 0;

signals:
    void readable();
    // Room again after a write was kept or sendFile() said Full.
    void writable();

protected:
    using QObject::QObject;
};

// Takes over `socket`, connected and (for a private link) through its handshake, on the thread
// it lives on; it is no longer the caller's to use. A plain socket's descriptor is taken out of
// Qt's hands, so the data goes straight between the kernel and the file; a TLS one is kept as it
// is. Bytes the socket had already read come back in `early`. Null when the socket is not
// connected.
std::unique_ptr<DataLink> takeDataLink(QTcpSocket* socket, QByteArray& early);

// Where a private link still flushing when its transfer ended stays on this thread; without
// one, under the application on its thread, else on its own (it deletes itself when done).
void setLingerHome(QObject* home);

} // namespace peer
