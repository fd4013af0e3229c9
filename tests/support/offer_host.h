#pragma once

#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "peer/common/chat_host.h"
#include "peer/link/dcc_tls.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <optional>

namespace test {

// A host whose server lines (the offers) go into a list, as the server link would take them.
class OfferHost : public peer::ChatHost
{
public:
    explicit OfferHost(QByteArray nick = "alice")
        : m_nick(std::move(nick))
    {}
    QByteArray nickInUse() const override { return m_nick; }
    bool sendServerLine(const QByteArray& line) override
    {
        sent << line;
        return true;
    }
    bool loggingOn() const override { return false; }
    std::optional<QString> installDir() const override { return std::nullopt; }
    quint32 offerAddress() const override { return 0x7F000001; }
    bool passiveOffers() const override { return passive; }
    bool privateLinks() const override { return privateOffers; }
    const peer::TlsIdentity* tlsIdentity() override { return identity ? &*identity : nullptr; }
    std::optional<QByteArray> peerPin(const QByteArray& nick) override
    {
        return pins.contains(nick) ? std::optional(pins.value(nick)) : std::nullopt;
    }
    bool peerPinCompared(const QByteArray& nick) override
    {
        return pinKinds.value(nick) == peer::PinKind::Compared;
    }
    bool pinPeer(const QByteArray& nick, const QByteArray& fingerprint, peer::PinKind how) override
    {
        pins.insert(nick, fingerprint);
        pinKinds.insert(nick, how);
        return true;
    }
    peer::LinkTimeouts linkTimeouts() const override { return timeouts; }
    const peer::NickRule& nicks() const override { return nickRule; }
    // The newest offer of `kind` as its target receives it from us.
    std::optional<irc::DccOffer> lastOffer(irc::DccKind kind, bool secure = false) const
    {
        return sent.isEmpty() ? std::nullopt : readOffer(kind, m_nick, sent.last(), secure);
    }
    // The newest RESUME or ACCEPT as its target receives it from us.
    std::optional<irc::DccResume> lastResume(irc::DccResumeKind kind) const
    {
        const std::optional<QByteArray> arguments =
            sent.isEmpty() ? std::nullopt : dccArguments(sent.last());
        return arguments ? irc::parseDccResume(kind, m_nick, *arguments) : std::nullopt;
    }

    // The arguments of the DCC message in `line`, as the dispatcher splits them.
    static std::optional<QByteArray> dccArguments(const QByteArray& line)
    {
        const std::optional<irc::Message> message = irc::parseMessage(line);
        const std::optional<irc::Ctcp> ctcp =
            irc::splitCtcp(message ? message->trailing() : std::nullopt);
        if (!ctcp || !ctcp->dcc)
            return std::nullopt;
        return ctcp->arguments.toByteArray();
    }
    // The offer of `kind` in a line we sent, as `sender`'s target reads it.
    static std::optional<irc::DccOffer> readOffer(irc::DccKind kind, QByteArrayView sender,
                                                  const QByteArray& line, bool secure = false)
    {
        const std::optional<QByteArray> arguments = dccArguments(line);
        return arguments ? irc::parseDccOffer(kind, sender, *arguments, secure) : std::nullopt;
    }

    QList<QByteArray> sent;
    bool passive = false;
    bool privateOffers = false;
    std::optional<peer::TlsIdentity> identity;
    QHash<QByteArray, QByteArray> pins;
    QHash<QByteArray, peer::PinKind> pinKinds;
    peer::LinkTimeouts timeouts;
    peer::NickRule nickRule;

private:
    QByteArray m_nick;
};

} // namespace test
