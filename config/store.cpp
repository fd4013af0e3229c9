#include "config/store.h"

#include "config/registry.h"
#include "config/server_value.h"

namespace config {

namespace {

const QByteArray kFlagOn(1, '\x01');
const QByteArray kFlagOff(1, '\x00');
const QByteArray kContactData(" ");

// A stored text has to fit the 256-byte field with its terminator; one that does not is treated
// as missing rather than cut, so a corrupt value never passes for a shorter valid one.
QByteArray readField(const Registry& registry, const char* name)
{
    const std::optional<QByteArray> value = registry.readValue(kKeyRoot, name);
    if (!value || value->size() >= kSettingsFieldSize)
        return {};
    return *value;
}

bool readFlag(const Registry& registry, const char* name)
{
    const QByteArray value = readField(registry, name);
    return !value.isEmpty() && value.at(0) != '\0';
}

// For flags added later: a store written before the flag existed has no value, and reads as on.
// A value that is there follows the usual rule, so a stored zero byte still turns it off.
bool readFlagMissingOn(const Registry& registry, const char* name)
{
    const std::optional<QByteArray> value = registry.readValue(kKeyRoot, name);
    if (!value || value->size() >= kSettingsFieldSize)
        return true;
    return !value->isEmpty() && value->at(0) != '\0';
}

// On is no value at all, so that a store saved with the defaults holds exactly the values it
// held before these flags existed.
bool writeFlagMissingOn(Registry& registry, const char* name, bool on)
{
    return on ? registry.deleteValue(kKeyRoot, name)
              : registry.writeValue(kKeyRoot, name, kFlagOff);
}

// Off is no value at all, for the same reason.
bool writeFlagMissingOff(Registry& registry, const char* name, bool on)
{
    return on ? registry.writeValue(kKeyRoot, name, kFlagOn) : registry.deleteValue(kKeyRoot, name);
}

QByteArray pinValueName(const ServerEntry& server)
{
    return server.address.toLower() + ':' + QByteArray::number(server.port);
}

} // namespace

Settings Store::LoadSettings() const
{
    Settings s;
    s.nick = readField(m_registry, "nick");
    s.altnick = readField(m_registry, "altnick");
    s.away = readField(m_registry, "away");
    s.awayset = readFlag(m_registry, "awayset");
    s.realname = readField(m_registry, "realname");
    s.email = readField(m_registry, "email");
    s.autoconnect = readFlag(m_registry, "autoconnect");
    s.queryip = readFlag(m_registry, "queryip");
    s.logging = readFlag(m_registry, "logging");
    s.fastsend = readFlag(m_registry, "fastsend");
    s.reconnect = readFlagMissingOn(m_registry, "reconnect");
    s.notify = readFlagMissingOn(m_registry, "notify");
    s.passivedcc = readFlag(m_registry, "passivedcc");
    s.privatedcc = readFlag(m_registry, "privatedcc");
    s.ircv3 = readFlagMissingOn(m_registry, "ircv3");
    s.typing = readFlagMissingOn(m_registry, "typing");
    return s;
}

bool Store::SaveSettings(const Settings& s)
{
    if (!m_registry.hasKey(kKeyRoot))
        return false;
    const auto flag = [](bool on) { return on ? kFlagOn : kFlagOff; };
    return m_registry.transact([&] {
        return m_registry.writeValue(kKeyRoot, "nick", s.nick)
               && m_registry.writeValue(kKeyRoot, "altnick", s.altnick)
               && m_registry.writeValue(kKeyRoot, "away", s.away)
               && m_registry.writeValue(kKeyRoot, "awayset", flag(s.awayset))
               && m_registry.writeValue(kKeyRoot, "realname", s.realname)
               && m_registry.writeValue(kKeyRoot, "email", s.email)
               && m_registry.writeValue(kKeyRoot, "autoconnect", flag(s.autoconnect))
               && m_registry.writeValue(kKeyRoot, "queryip", flag(s.queryip))
               && m_registry.writeValue(kKeyRoot, "logging", flag(s.logging))
               && m_registry.writeValue(kKeyRoot, "fastsend", flag(s.fastsend))
               && writeFlagMissingOn(m_registry, "reconnect", s.reconnect)
               && writeFlagMissingOn(m_registry, "notify", s.notify)
               && writeFlagMissingOff(m_registry, "passivedcc", s.passivedcc)
               && writeFlagMissingOff(m_registry, "privatedcc", s.privatedcc)
               && writeFlagMissingOn(m_registry, "ircv3", s.ircv3)
               && writeFlagMissingOn(m_registry, "typing", s.typing);
    });
}

std::optional<QString> Store::GetInstallDir() const
{
    constexpr int kPathSize = 4096;
    const std::optional<QByteArray> value = m_registry.readValue(kKeyRoot, "installdir");
    if (!value || value->size() >= kPathSize)
        return std::nullopt;
    return QString::fromUtf8(*value);
}

std::vector<ServerEntry> Store::EnumServers() const
{
    std::vector<ServerEntry> servers;
    for (const Registry::Value& value : m_registry.values(kKeyServers)) {
        if (std::optional<ServerEntry> server = parseServerValue(value.name, value.data))
            servers.push_back(std::move(*server));
    }
    return servers;
}

bool Store::AddServer(const ServerEntry& server)
{
    if (server.address.isEmpty())
        return false;
    return m_registry.writeValue(kKeyServers, serverValueName(server), server.network);
}

bool Store::RemoveServer(const ServerEntry& server)
{
    if (server.address.isEmpty())
        return false;
    // A value stored without a port enumerates as port 0, so port 0 names the bare address.
    // The address may come back lower-cased from EnumServers; NOCASE names still match.
    return m_registry.transact([&] {
        return m_registry.deleteValue(kKeyServers, server.port != 0
                                                       ? serverValueName(server)
                                                       : bracketedAddress(server.address))
               && m_registry.deleteValue(kKeyServerPasswords, serverValueName(server));
    });
}

QByteArray Store::serverPassword(const ServerEntry& server) const
{
    const std::optional<QByteArray> own =
        m_registry.readValue(kKeyServerPasswords, serverValueName(server));
    if (own)
        return own->size() < kSettingsFieldSize ? *own : QByteArray();
    const QByteArray legacy = readField(m_registry, kLegacyServerPass);
    if (legacy.isEmpty())
        return {};
    const std::vector<ServerEntry> servers = EnumServers();
    return !servers.empty() && servers.front() == server ? legacy : QByteArray();
}

bool Store::setServerPassword(const ServerEntry& server, const QByteArray& password)
{
    if (server.address.isEmpty() || password.size() >= kSettingsFieldSize)
        return false;
    return m_registry.transact([&] {
        // The old password first finds its entry, so that it never moves to another one later.
        if (!migrateServerPass())
            return false;
        if (password.isEmpty())
            return m_registry.deleteValue(kKeyServerPasswords, serverValueName(server));
        return (m_registry.hasKey(kKeyServerPasswords) || m_registry.createKey(kKeyServerPasswords))
               && m_registry.writeValue(kKeyServerPasswords, serverValueName(server), password);
    });
}

bool Store::migrateServerPass()
{
    if (!m_registry.readValue(kKeyRoot, kLegacyServerPass))
        return true;
    const QByteArray legacy = readField(m_registry, kLegacyServerPass);
    const std::vector<ServerEntry> servers = EnumServers();
    // With no entry to take it, the password waits for the first one.
    if (servers.empty() && !legacy.isEmpty())
        return true;
    return m_registry.transact([&] {
        const QByteArray name = servers.empty() ? QByteArray() : serverValueName(servers.front());
        const bool keep =
            !legacy.isEmpty() && !m_registry.readValue(kKeyServerPasswords, name).has_value();
        if (keep
            && !((m_registry.hasKey(kKeyServerPasswords)
                  || m_registry.createKey(kKeyServerPasswords))
                 && m_registry.writeValue(kKeyServerPasswords, name, legacy)))
            return false;
        return m_registry.deleteValue(kKeyRoot, kLegacyServerPass);
    });
}

std::optional<QByteArray> Store::certificatePin(const ServerEntry& server) const
{
    std::optional<QByteArray> value = m_registry.readValue(kKeyPins, pinValueName(server));
    if (!value || !isFingerprint(*value))
        return std::nullopt;
    return value;
}

bool Store::pinCertificate(const ServerEntry& server, const QByteArray& fingerprint)
{
    if (server.address.isEmpty() || !isFingerprint(fingerprint) || !m_registry.hasKey(kKeyRoot))
        return false;
    if (!m_registry.hasKey(kKeyPins) && !m_registry.createKey(kKeyPins))
        return false;
    return m_registry.writeValue(kKeyPins, pinValueName(server), fingerprint);
}

std::optional<QByteArray> Store::peerPin(const QByteArray& nick) const
{
    const std::optional<PeerPin> pin = peerPinRecord(nick);
    return pin ? std::optional(pin->fingerprint) : std::nullopt;
}

std::optional<PeerPin> Store::peerPinRecord(const QByteArray& nick) const
{
    const std::optional<QByteArray> value = m_registry.readValue(kKeyPeerPins, nick);
    return value ? decodePeerPin(*value) : std::nullopt;
}

bool Store::pinPeer(const QByteArray& nick, const QByteArray& fingerprint, PeerPinKind kind)
{
    const std::optional<QByteArray> value = encodePeerPin({fingerprint, kind});
    return value && writeNamed(kKeyPeerPins, nick, *value);
}

bool Store::forgetPin(const QByteArray& nick)
{
    return forgetNamed(kKeyPeerPins, nick);
}

QList<QByteArray> Store::pinnedNicks() const
{
    return namesIn(kKeyPeerPins);
}

bool Store::writeNamed(const char* key, const QByteArray& name, const QByteArray& value)
{
    if (name.isEmpty() || value.isEmpty() || !m_registry.hasKey(kKeyRoot))
        return false;
    if (!m_registry.hasKey(key) && !m_registry.createKey(key))
        return false;
    return m_registry.writeValue(key, name, value);
}

bool Store::forgetNamed(const char* key, const QByteArray& name)
{
    if (name.isEmpty())
        return false;
    if (!m_registry.hasKey(key) || !m_registry.readValue(key, name))
        return true;
    return m_registry.deleteValue(key, name);
}

QList<QByteArray> Store::namesIn(const char* key) const
{
    QList<QByteArray> names;
    for (const Registry::Value& value : m_registry.values(key)) {
        if (!value.name.isEmpty())
            names.append(value.name);
    }
    return names;
}

std::optional<QByteArray> Store::chatKey(const QByteArray& nick) const
{
    if (nick.isEmpty())
        return std::nullopt;
    return m_registry.readValue(kKeyChatKeys, nick);
}

bool Store::setChatKey(const QByteArray& nick, const QByteArray& value)
{
    return writeNamed(kKeyChatKeys, nick, value);
}

bool Store::forgetChatKey(const QByteArray& nick)
{
    return forgetNamed(kKeyChatKeys, nick);
}

QList<QByteArray> Store::chatKeyNicks() const
{
    return namesIn(kKeyChatKeys);
}

std::optional<QByteArray> Store::historyMark(const QByteArray& nick) const
{
    if (nick.isEmpty())
        return std::nullopt;
    return m_registry.readValue(kKeyChatHistory, nick);
}

bool Store::setHistoryMark(const QByteArray& nick, const QByteArray& value)
{
    return writeNamed(kKeyChatHistory, nick, value);
}

bool Store::setHistoryMarks(const QList<std::pair<QByteArray, QByteArray>>& marks)
{
    return m_registry.transact([&] {
        for (const auto& [nick, value] : marks) {
            if (!writeNamed(kKeyChatHistory, nick, value))
                return false;
        }
        return true;
    });
}

std::optional<QByteArray> Store::stsPolicy(const QByteArray& host) const
{
    if (host.isEmpty())
        return std::nullopt;
    return m_registry.readValue(kKeyStsPolicies, host.toLower());
}

bool Store::setStsPolicy(const QByteArray& host, const QByteArray& value)
{
    return writeNamed(kKeyStsPolicies, host.toLower(), value);
}

bool Store::forgetStsPolicy(const QByteArray& host)
{
    return forgetNamed(kKeyStsPolicies, host.toLower());
}

QList<QByteArray> Store::EnumContacts() const
{
    QList<QByteArray> contacts;
    for (const Registry::Value& value : m_registry.values(kKeyContacts)) {
        if (contacts.size() >= kMaxContacts)
            break;
        if (value.name.isEmpty() || value.name.size() >= kContactNameSize)
            continue;
        contacts.append(value.name);
    }
    return contacts;
}

bool Store::AddContact(const QByteArray& nick)
{
    return !nick.isEmpty() && m_registry.writeValue(kKeyContacts, nick, kContactData);
}

bool Store::RemoveContact(const QByteArray& nick)
{
    return !nick.isEmpty() && m_registry.deleteValue(kKeyContacts, nick);
}

bool Store::autoconnectRequested() const
{
    constexpr int kDwordSize = 4;
    const std::optional<QByteArray> value = m_registry.readValue(kKeyRoot, "autoconnect");
    if (!value || value->size() > kDwordSize)
        return false;
    for (char byte : *value) {
        if (byte != '\0')
            return true;
    }
    return false;
}

} // namespace config
