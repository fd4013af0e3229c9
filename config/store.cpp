#include "config/store.h"

#include "config/registry.h"

#include <cstdint>
#include <limits>

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

bool isCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the port the way atoi would, including its leniency ("12x" is 12, "x" is 0), but clamps
// instead of overflowing, since the name comes from a file anyone can edit.
qint32 parsePort(const QByteArray& text)
{
    int i = 0;
    while (i < text.size() && isCSpace(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '+' || text.at(i) == '-')) {
        negative = text.at(i) == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<qint32>::max();
    constexpr std::int64_t kMin = std::numeric_limits<qint32>::min();
    std::int64_t magnitude = 0;
    for (; i < text.size() && text.at(i) >= '0' && text.at(i) <= '9'; ++i) {
        magnitude = magnitude * 10 + (text.at(i) - '0');
        if (magnitude > kMax + 1)
            magnitude = kMax + 1; // stays above both limits without ever overflowing
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return qint32(value > kMax ? kMax : value < kMin ? kMin : value);
}

QByteArray serverValueName(const ServerEntry& server)
{
    return server.address + ':' + QByteArray::number(server.port);
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
    s.serverpass = readField(m_registry, "serverpass");
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
               // "No server password" is no value at all, not an empty one.
               && (s.serverpass.isEmpty()
                       ? m_registry.deleteValue(kKeyRoot, "serverpass")
                       : m_registry.writeValue(kKeyRoot, "serverpass", s.serverpass));
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
        if (value.name.size() >= kAddressSize || value.data.size() >= kNetworkSize)
            continue;
        ServerEntry server;
        server.address = value.name.toLower();
        server.network = value.data;
        const int colon = server.address.indexOf(':');
        if (colon >= 0) {
            server.port = parsePort(server.address.mid(colon + 1));
            server.address.truncate(colon);
        }
        servers.push_back(std::move(server));
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
    return m_registry.deleteValue(kKeyServers,
                                  server.port != 0 ? serverValueName(server) : server.address);
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
