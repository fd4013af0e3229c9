#include "config/server_value.h"

#include "config/store.h"

#include <cstdint>
#include <limits>

namespace config {

namespace {

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

} // namespace

QByteArray bracketedAddress(const QByteArray& address)
{
    return address.contains(':') ? '[' + address + ']' : address;
}

QByteArray serverValueName(const ServerEntry& server)
{
    return bracketedAddress(server.address) + ':' + (server.tls ? "+" : "")
           + QByteArray::number(server.port);
}

std::optional<ServerEntry> parseServerValue(const QByteArray& name, const QByteArray& network)
{
    if (name.size() >= kAddressSize || network.size() >= kNetworkSize)
        return std::nullopt;
    ServerEntry server;
    server.address = name.toLower();
    server.network = network;
    const int close = server.address.startsWith('[') ? server.address.indexOf(']') : -1;
    if (close > 0) {
        const QByteArray rest = server.address.mid(close + 1);
        server.address = server.address.mid(1, close - 1);
        if (rest.startsWith(':')) {
            server.tls = rest.size() > 1 && rest.at(1) == '+';
            server.port = parsePort(rest.mid(1));
        }
        return server;
    }
    const int colon = server.address.indexOf(':');
    if (colon >= 0) {
        // Only a '+' right after the colon asks for TLS; "a: +7" stays the plain port 7.
        server.tls = colon + 1 < server.address.size() && server.address.at(colon + 1) == '+';
        server.port = parsePort(server.address.mid(colon + 1));
        server.address.truncate(colon);
    }
    return server;
}

} // namespace config
