#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <optional>

namespace irc {

// The IRCv3 extensions the program asks a server for, each used only once the server granted it.
enum class Capability : std::uint16_t {
    MessageTags = 1 << 0,
    ServerTime = 1 << 1,
    EchoMessage = 1 << 2,
    LabeledResponse = 1 << 3,
    Batch = 1 << 4,
    AwayNotify = 1 << 5,
    AccountNotify = 1 << 6,
    ExtendedMonitor = 1 << 7,
    ChatHistory = 1 << 8, // "chathistory" or "draft/chathistory", whichever the server offers
};

// The extensions granted on one connection.
class Capabilities
{
public:
    bool has(Capability capability) const { return (m_bits & std::uint16_t(capability)) != 0; }
    void add(Capability capability) { m_bits |= std::uint16_t(capability); }
    void remove(Capability capability) { m_bits &= std::uint16_t(~std::uint16_t(capability)); }
    bool isEmpty() const { return m_bits == 0; }

    friend bool operator==(Capabilities a, Capabilities b) { return a.m_bits == b.m_bits; }
    friend bool operator!=(Capabilities a, Capabilities b) { return !(a == b); }

private:
    std::uint16_t m_bits = 0;
};

// The capability a name stands for, with or without a value ("sts=port=6697" is not ours).
std::optional<Capability> capabilityNamed(QByteArrayView name);

// The names to ask for among those a server offers (a CAP LS list, values included): the ones we
// use, once each, in the order offered; of the two chathistory names the final one.
QList<QByteArray> wantedCapabilities(const QList<QByteArray>& offered);

} // namespace irc
