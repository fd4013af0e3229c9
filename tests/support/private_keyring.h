#pragma once

#include <QString>

namespace test {

inline constexpr int kKeyringWaitMs = 10000;

// A secret service of the test binary's own: a private session bus and a gnome-keyring-daemon
// on it, unlocked with a password on its standard input, in a fresh home; started at the first
// call. The program under test reaches it through DBUS_SESSION_BUS_ADDRESS, which then points at
// the private bus for the rest of the binary, and KIVVO_NO_KEYCHAIN is lifted.
struct PrivateKeyring
{
    QString missing; // why there is none; empty when it runs
};

const PrivateKeyring& privateKeyring();
// Only the private session bus, where no secret service runs nor can be started: every call to
// the service fails at once. A binary uses this or privateKeyring(), never both, since the
// secret service library keeps the first session bus it reached.
const PrivateKeyring& privateBusWithoutService();

} // namespace test
