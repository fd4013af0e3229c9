#pragma once

#include "config/settings.h"

#include <QByteArray>

#include <optional>

namespace config {

// An IPv6 literal goes in brackets, so that its colons are not read as the one before the port.
QByteArray bracketedAddress(const QByteArray& address);

// The name the entry's values go by in kKeyServers and kKeyServerPasswords ("address:port", a
// TLS port with a plus).
QByteArray serverValueName(const ServerEntry& server);

// The entry a stored server value describes: its name ("address:port", "[v6]:+port", ...) and
// its data, the network. None when either does not fit its buffer, so that one bad value never
// hides the ones stored after it.
std::optional<ServerEntry> parseServerValue(const QByteArray& name, const QByteArray& network);

} // namespace config
