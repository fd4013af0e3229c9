#pragma once

#include "irc/dcc_offer.h"
#include "peer/chat_host.h"
#include "peer/dcc_tls.h"

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
    bool pinPeer(const QByteArray& nick, const QByteArray& fingerprint) override
    {
        pins.insert(nick, fingerprint);
        return true;
    }
    peer::LinkTimeouts linkTimeouts() const override { return timeouts; }
    const peer::NickRule& nicks() const override { return nickRule; }
    // The newest offer of `kind` as its target receives it from us.
    std::optional<irc::DccOffer> lastOffer(irc::DccKind kind, bool secure = false) const
    {
        if (sent.isEmpty())
            return std::nullopt;
        QByteArray line = ":" + m_nick + "!u@h " + sent.last();
        line.chop(1); // the closing 0x01 goes before the parser sees it
        return irc::parseDccOffer(kind, line, secure);
    }
    // The newest RESUME or ACCEPT as its target receives it from us.
    std::optional<irc::DccResume> lastResume(irc::DccResumeKind kind) const
    {
        if (sent.isEmpty())
            return std::nullopt;
        QByteArray line = ":" + m_nick + "!u@h " + sent.last();
        line.chop(1);
        return irc::parseDccResume(kind, line);
    }

    QList<QByteArray> sent;
    bool passive = false;
    bool privateOffers = false;
    std::optional<peer::TlsIdentity> identity;
    QHash<QByteArray, QByteArray> pins;
    peer::LinkTimeouts timeouts;
    peer::NickRule nickRule;

private:
    QByteArray m_nick;
};

} // namespace test
