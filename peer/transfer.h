#pragma once

#include "peer/session_record.h"
#include "peer/texts.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <optional>

class QTcpSocket;

namespace peer {

class ChatHost;

// One file transfer in either direction. It owns its socket and its file and closes both the
// moment it ends, however it ends; its window only shows what it reports.
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
    // The part file that holds what a stopped transfer received, to be resumed; empty when
    // there is none.
    virtual QString keptPart() const { return {}; }

    // The link runs TLS (SSEND) with `host`'s identity, the peer judged by its pin. Before the
    // transfer listens or connects.
    void makePrivate(ChatHost& host) { m_host = &host; }
    bool isPrivate() const { return m_host != nullptr; }

signals:
    void statusChanged(peer::Transfer::Status status);
    // The count moved.
    void progressed(quint64 count);

protected:
    explicit Transfer(QObject* parent);

    void setStatus(Status status);
    void startClock() { m_clock.start(); }
    // Stops with `error`; a transfer that already ended stays as it ended.
    void stop(TransferError error, const QString& detail = {});
    void setCount(quint64 count);
    // Closes socket and file; the kinds say how.
    virtual void release() = 0;
    // Runs `begin` once the link on `socket` may carry data: at once for a plain link, after
    // the handshake and the pin for a private one (which otherwise stops the transfer).
    void whenTrusted(QTcpSocket* socket, const std::function<void()>& begin);

    TransferSession m_record;
    ChatHost* m_host = nullptr; // set for a private link
    LinkProtection m_protection = LinkProtection::None;
    QByteArray m_peerFingerprint;

private:
    Status m_status = Status::Awaiting;
    QElapsedTimer m_clock;
    std::optional<TransferError> m_error;
    QString m_errorDetail;
};

} // namespace peer
