#pragma once

#include "peer/common/chat_host.h"
#include "peer/common/session_record.h"
#include "peer/common/texts.h"
#include "peer/link/dcc_endpoint.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace peer {

class DataLink;
class TransferPump;
class TransferThread;

// One file transfer in either direction. It owns its socket and its file and closes both the
// moment it ends, however it ends; its window only shows what it reports. While the data flows,
// a pump moves it, on the data thread when the transfer has one, and reports back by queued
// signals; the transfer, its file and its window stay on the thread that made them.
class Transfer : public QObject
{
    Q_OBJECT

public:
    enum class Status {
        Awaiting,   // our offer waits for the peer
        Connecting, // we connect to the peer's offer
        Running,
        Complete,
        Stopped, // ended short of the size; error() says why
    };

    ~Transfer() override;

    Status status() const { return m_status; }
    bool isFinished() const { return m_status == Status::Complete || m_status == Status::Stopped; }
    const TransferSession& record() const { return m_record; }
    quint64 count() const { return m_record.count; }
    quint64 size() const { return m_record.size; }
    // Whole seconds since the peer connected (or, receiving, since we started to connect).
    qint64 elapsedSeconds() const;
    const std::optional<TransferError>& error() const { return m_error; }
    // How the link is protected, once it is up; a private one with the peer's certificate.
    LinkProtection protection() const { return m_protection; }
    const QByteArray& peerFingerprint() const { return m_peerFingerprint; }
    const QString& errorDetail() const { return m_errorDetail; }

    // The user ends it: socket and file are closed; what was received stays.
    void cancel();
    // The peer declined our offer: the wait ends, and the window says who said no.
    void decline();
    // The part file that holds what a stopped transfer received, to be resumed; empty when
    // there is none.
    virtual QString keptPart() const { return {}; }

    // The link runs TLS (SSEND) with `host`'s identity, the peer judged by its pin. Before the
    // transfer listens or connects.
    void makePrivate(ChatHost& host) { m_host = &host; }
    bool isPrivate() const { return m_host != nullptr; }
    // How long the transfer waits for its peer; the host's defaults otherwise.
    void setLinkTimeouts(const LinkTimeouts& timeouts) { m_timeouts = timeouts; }
    // Where the data flows once the link is up; without one, on the transfer's own thread.
    void setDataThread(TransferThread* thread);

    // Whether a private link we listened for is held, its certificate (peerFingerprint()) new to
    // us, until the user accepts or refuses it.
    bool awaitsPeerKey() const { return !m_heldFingerprint.isEmpty(); }
    // Our own certificate's fingerprint on a private link, for the users to compare.
    const QByteArray& ownFingerprint() const { return m_ownFingerprint; }
    // The user compared the fingerprint and accepted it: it is pinned and the transfer begins.
    void acceptPeerKey();
    // The user refused the certificate: the transfer stops, nothing having gone over the link.
    void refusePeerKey();

    // Our offer or answer: its wait for the peer, which stops the transfer when nobody came in
    // time.
    DccEndpoint& endpoint() { return *m_endpoint; }
    const DccEndpoint& endpoint() const { return *m_endpoint; }
    // How the endpoint listens for this transfer's peer: private when the transfer is.
    PeerListen listening() const;

signals:
    void statusChanged(peer::Transfer::Status status);
    // The count moved.
    void progressed(quint64 count);
    // A private link waits for the user to accept its certificate (awaitsPeerKey()).
    void peerKeyToAccept();

protected:
    explicit Transfer(QObject* parent);

    void setStatus(Status status);
    void startClock() { m_clock.start(); }
    // Stops with `error`; a transfer that already ended stays as it ended.
    void stop(TransferError error, const QString& detail = {});
    void setCount(quint64 count);
    // Closes socket and file; the kinds say how.
    virtual void release() = 0;
    // What the window says when nobody came within `waited`.
    virtual QString expiredText(std::chrono::milliseconds waited) const
    {
        return offerExpiredText(waited);
    }
    const LinkTimeouts& linkTimeouts() const { return m_timeouts; }
    // Runs `begin` once the link on `socket` may carry data: at once for a plain link, after
    // the handshake and the pin for a private one (which otherwise stops the transfer).
    void whenTrusted(QTcpSocket* socket, const std::function<void()>& begin);
    // Takes the link on `socket` out of Qt's socket once the handler that called this has
    // returned, and gives it to `take` with whatever the socket had read (nothing when the
    // socket has gone or the transfer ended meanwhile, in which case `take` is not called).
    void takeLink(QTcpSocket* socket,
                  std::function<void(std::unique_ptr<DataLink> link, QByteArray early)> take);
    // Hands the data to `pump`, which from now on owns the link; its end ends the transfer.
    void run(std::unique_ptr<TransferPump> pump);
    // Ends the pump, if one runs, and waits until it has let go of link and file. First in
    // every release().
    void haltData();
    // The pump moved every byte: complete, or whatever the kind still has to do first.
    virtual void dataComplete() { setStatus(Status::Complete); }
    TransferSession m_record;
    ChatHost* m_host = nullptr; // set for a private link
    LinkProtection m_protection = LinkProtection::None;
    QByteArray m_peerFingerprint;

private:
    // Ends the wait for the user's word on a held link, and the transfer with it.
    void dropHeld(TransferError error, const QString& detail);
    void pumpEnded();

    LinkTimeouts m_timeouts;
    DccEndpoint* m_endpoint;
    QPointer<QTcpSocket> m_heldSocket;
    QByteArray m_heldFingerprint;
    QByteArray m_ownFingerprint;
    std::function<void()> m_heldBegin;
    Status m_status = Status::Awaiting;
    QElapsedTimer m_clock;
    std::optional<TransferError> m_error;
    QString m_errorDetail;
    std::unique_ptr<TransferPump> m_pump;
    QPointer<TransferThread> m_dataThread;
};

} // namespace peer
