// The one stand-in for what the program gives chats, transfers and voice chats (peer::ChatHost):
// every answer is a field the test sets, every server line it is handed is kept, and the offers
// among them are read back as their targets read them. The benchmarks use it too.
#pragma once

#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "peer/common/chat_host.h"
#include "peer/crypto/fish_keys.h"
#include "peer/link/dcc_tls.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QWidget>

#include <optional>

namespace test {

class ScriptedHost : public peer::ChatHost
{
public:
    explicit ScriptedHost(QByteArray nick = "alice")
        : nick(std::move(nick))
    {}

    QByteArray nickInUse() const override { return nick; }
    bool serverLinkUp() const override { return linkUp; }
    bool sendServerLine(const QByteArray& line) override
    {
        sent << line;
        return sendWorks;
    }
    bool loggingOn() const override { return logging; }
    std::optional<QString> installDir() const override { return dir; }
    QDateTime nowUtc() const override
    {
        return now.isValid() ? now : QDateTime::currentDateTimeUtc();
    }
    const peer::NickRule& nicks() const override { return nickRule; }
    QList<QByteArray> contactNicks() const override { return contacts; }
    quint32 offerAddress() const override { return address; }
    bool passiveOffers() const override { return passive; }
    bool privateLinks() const override { return privateOffers; }
    const peer::TlsIdentity* tlsIdentity() override { return identity ? &*identity : nullptr; }
    std::optional<QByteArray> peerPin(const QByteArray& peer) override
    {
        return pins.contains(peer) ? std::optional(pins.value(peer)) : std::nullopt;
    }
    bool peerPinCompared(const QByteArray& peer) override
    {
        return pinKinds.value(peer) == peer::PinKind::Compared;
    }
    bool pinPeer(const QByteArray& peer, const QByteArray& fingerprint, peer::PinKind how) override
    {
        pins.insert(peer, fingerprint);
        pinKinds.insert(peer, how);
        return true;
    }
    peer::LinkTimeouts linkTimeouts() const override { return timeouts; }
    QWidget* makeMenuBar(QWidget* parent, const QByteArray& peer) override
    {
        if (!menuBars)
            return nullptr;
        barsFor << peer;
        auto* bar = new QWidget(parent);
        bar->setObjectName("ChatMenuBar");
        return bar;
    }

    // The newest offer of `kind` as its target receives it from us.
    std::optional<irc::DccOffer> lastOffer(irc::DccKind kind, bool secure = false) const
    {
        return sent.isEmpty() ? std::nullopt : readOffer(kind, nick, sent.last(), secure);
    }
    // The newest RESUME or ACCEPT as its target receives it from us.
    std::optional<irc::DccResume> lastResume(irc::DccResumeKind kind) const
    {
        const std::optional<QByteArray> arguments =
            sent.isEmpty() ? std::nullopt : dccArguments(sent.last());
        return arguments ? irc::parseDccResume(kind, nick, *arguments) : std::nullopt;
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

    QByteArray nick;
    QList<QByteArray> sent;
    bool sendWorks = true;
    bool linkUp = true;
    bool logging = false;
    std::optional<QString> dir;
    QDateTime now; // invalid: the real clock
    QList<QByteArray> contacts;
    quint32 address = 0x7F000001;
    bool passive = false;
    bool privateOffers = false;
    std::optional<peer::TlsIdentity> identity;
    QHash<QByteArray, QByteArray> pins;
    QHash<QByteArray, peer::PinKind> pinKinds;
    peer::LinkTimeouts timeouts;
    peer::NickRule nickRule;
    // Chat windows get a bar of their own (an empty widget), as the program gives them.
    bool menuBars = false;
    QList<QByteArray> barsFor;
};

// Contacts' FiSH keys kept in memory exactly as the store hands them out.
class MemoryKeys : public peer::FishKeyStore
{
public:
    std::optional<peer::StoredFishKey> find(const QByteArray& peer) override
    {
        const auto found = keys.constFind(peer);
        return found == keys.constEnd() ? std::nullopt : std::optional(*found);
    }
    bool save(const QByteArray& peer, const peer::StoredFishKey& key) override
    {
        keys.insert(peer, key);
        return true;
    }
    bool forget(const QByteArray& peer) override
    {
        keys.remove(peer);
        return true;
    }

    QHash<QByteArray, peer::StoredFishKey> keys;
};

} // namespace test
