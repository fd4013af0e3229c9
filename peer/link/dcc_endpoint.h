#pragma once

#include "irc/dcc_offer.h"
#include "peer/link/listen.h"
#include "peer/link/offer_match.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class QTcpSocket;

namespace peer {

class ChatHost;
struct PrivateLinkResult;

// Our end of one direct link before it carries anything: the offer (listening for the peer, or,
// passive, a token for the peer's answer), or our answer to the peer's passive offer; the one
// connection it takes; the time-out of the wait; and the watch on a private link's handshake.
// Chats, both sides of a file transfer and each leg of a voice chat have one. The sockets it
// hands out belong to its parent.
class DccEndpoint : public QObject
{
    Q_OBJECT

public:
    enum class Failure { NoPort, NotSent };
    // Whether a passive offer of ours gives up when no answer comes within the listening time.
    enum class Unanswered { Waits, Expires };

    explicit DccEndpoint(QObject* owner);
    ~DccEndpoint() override;

    // Our offer, active or passive, to the server: `offer` without address, port and token,
    // which the endpoint fills in.
    std::optional<Failure> offer(ChatHost& host, irc::OutgoingOffer offer, const PeerListen& how,
                                 bool passive, Unanswered unanswered = Unanswered::Waits);
    // The peer's passive offer: we listen, and our answer with its token tells it where.
    std::optional<Failure> answer(ChatHost& host, const irc::DccOffer& theirs,
                                  const PeerListen& how);
    // Listens for the peer on the first of `ports` that can be bound, without offering (the
    // offer goes out by other hands); the port.
    std::optional<quint16> listen(const PeerListen& how, const QList<quint16>& ports);

    // What answers and resumes are matched against.
    const OurOffer& ours() const { return m_ours; }
    bool answeredBy(const irc::DccOffer& answer, const NickRule& nicks) const
    {
        return answersOffer(m_ours, answer, nicks);
    }
    // The peer's answer to our passive offer was taken: nothing else answers it now.
    void answered();
    bool isListening() const { return !m_server.isNull(); }
    // Stops listening and waiting; no signal follows.
    void close();

    // A socket of `owner` to connect out on: TLS with `privateHost`'s identity when there is
    // one (null when that host has no identity), plain otherwise.
    static QTcpSocket* newSocket(ChatHost* privateHost, QObject* owner);
    // Judges the handshake of the private link on `socket` by `nick`'s pin (watchPrivateLink).
    static void watch(QTcpSocket* socket, ChatHost& host, const QByteArray& nick,
                      std::function<void(const PrivateLinkResult&)> done);

signals:
    // The one peer that connected to our offer; the socket is the parent's now.
    void peerConnected(QTcpSocket* socket);
    // Nobody connected, or answered, within `waited`; the endpoint no longer waits.
    void expired(std::chrono::milliseconds waited);

private:
    void takeConnection();
    void expire(std::chrono::milliseconds waited);

    OurOffer m_ours;
    QPointer<PeerServer> m_server;
    QTimer m_answerWait;
};

} // namespace peer
