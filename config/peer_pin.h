#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace config {

// How a contact's pin came to be.
enum class PeerPinKind {
    FirstSeen, // we connected to the address the server relayed; nobody compared
    Accepted,  // the user accepted the certificate of a link we listened for
    Compared,  // the two users compared the link's fingerprints and said they matched
};
struct PeerPin
{
    QByteArray fingerprint; // lower-case hex SHA-256
    PeerPinKind kind = PeerPinKind::FirstSeen;
};

// A pin is exactly a SHA-256 digest in lower-case hex; anything else stored there pins nothing.
bool isFingerprint(QByteArrayView text);

// A stored pin: the fingerprint, then " accepted" or " compared" (nothing: first seen, as every
// pin was before the two). A damaged value is no pin, rather than one trusted more than it was.
std::optional<PeerPin> decodePeerPin(QByteArrayView value);
// None for a fingerprint that is not one.
std::optional<QByteArray> encodePeerPin(const PeerPin& pin);

} // namespace config
