#pragma once

#include "config/settings.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>

namespace irc {

// Where the pins of servers' certificates are kept, as the one who builds the trust provides it
// (the program's store): `read` gives a server's pin, if any; `write` keeps one and says whether
// it was kept.
struct PinKeeper
{
    std::function<std::optional<QByteArray>(const config::ServerEntry& server)> read;
    std::function<bool(const config::ServerEntry& server, const QByteArray& fingerprint)> write;
};

// Whether a TLS server's certificate that did not verify may be used: the one the user pinned
// for that server is, any other is refused or put to the user. Holds the pins the keeper could
// not keep, so that a read-only store still lets the user's Yes count until the program ends.
class ServerTrust
{
public:
    enum class Verdict {
        Pinned,  // the very certificate the user trusted: its verification errors are expected
        Changed, // another certificate than the pinned one: someone may impersonate the server
        Unknown, // nothing pinned: the user is asked
    };
    // Pure: the verdict on `presented` (a SHA-256 in hex) given the server's pin.
    static Verdict judge(const std::optional<QByteArray>& pin, const QByteArray& presented);

    explicit ServerTrust(PinKeeper keeper)
        : m_keeper(std::move(keeper))
    {}

    // The pin of `server`: the keeper's, else one trusted while the keeper could not keep it.
    std::optional<QByteArray> pin(const config::ServerEntry& server) const;
    Verdict judge(const config::ServerEntry& server, const QByteArray& presented) const
    {
        return judge(pin(server), presented);
    }
    // The user trusts `fingerprint` for `server` from now on; false when the keeper could not
    // keep it, and it counts only until the program ends.
    bool trust(const config::ServerEntry& server, const QByteArray& fingerprint);

private:
    PinKeeper m_keeper;
    // By "address:port".
    QHash<QByteArray, QByteArray> m_unsavedPins;
};

// What a TLS handshake found wrong with a certificate, kept until the failure that follows.
struct CertificateRefusal
{
    ServerTrust::Verdict verdict = ServerTrust::Verdict::Unknown;
    QByteArray fingerprint;
    QString problems;
};

} // namespace irc
