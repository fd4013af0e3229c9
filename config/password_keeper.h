#pragma once

#include "config/settings.h"

#include <QByteArray>

namespace config {

// Where the server passwords of the entries are kept: the store itself, or a keeper that holds
// them elsewhere and falls back to the store.
class PasswordKeeper
{
public:
    virtual ~PasswordKeeper() = default;

    // The password of `server`, empty when it has none.
    virtual QByteArray serverPassword(const ServerEntry& server) const = 0;
    // An empty password removes it; false when it cannot be kept.
    virtual bool setServerPassword(const ServerEntry& server, const QByteArray& password) = 0;
};

} // namespace config
