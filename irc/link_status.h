#pragma once

#include "config/settings.h"

#include <QByteArray>
#include <QString>
#include <QTime>

namespace irc {

// A step of the server link's progress, as the link reports it; statusText() words it.
struct LinkStatus
{
    enum class Step {
        NoServers,
        AllServersFailed,
        ResolveFailed,
        SendingUserInfo,
        Connected,
        Reconnecting,
        Disconnected,
        // A TLS server's certificate differs from the one the user trusted before.
        CertificateChanged,
        // The user did not trust a TLS server's unverified certificate.
        CertificateRefused,
        // A pass after a lost link found no server; the next starts by itself at `retryAt`.
        WaitingToRetry,
        // The account in the server password could not be logged in to (SASL); registration
        // goes on without it.
        AccountLoginFailed,
        AccountNickLocked,
        AccountLoginAborted,
        AccountAlreadyLoggedIn,
        AccountNoPlainLogin,
        // The server refused both the nick and the alternate, round after round: nothing more
        // is asked for.
        NicksTaken,
        // The server refused a nick: `address` holds the nick, `reason` the server's words.
        NickRefused,
    };

    LinkStatus() = default;
    LinkStatus(Step what, int index = 0, QByteArray serverAddress = {}, bool overTls = false)
        : step(what)
        , serverIndex(index)
        , address(std::move(serverAddress))
        , secure(overTls)
    {}

    Step step = Step::Disconnected;
    int serverIndex = 0; // Connected: the server's index; Reconnecting: the next one's
    QByteArray address;  // Connected and the certificate steps: the server's address as stored
    bool secure = false; // Connected: over TLS
    QTime retryAt;       // WaitingToRetry: the local time of the next pass
    QByteArray reason;   // NickRefused: the server's reason

    bool operator==(const LinkStatus& o) const
    {
        return step == o.step && serverIndex == o.serverIndex && address == o.address
               && secure == o.secure && retryAt == o.retryAt && reason == o.reason;
    }
};

// The status bar's text for `status`.
QString statusText(const LinkStatus& status);
// A server of the list as the debug window names it: "address:port", the port after a '+' for
// TLS as the list writes it, an IPv6 address in brackets, and the network's name when known.
QString serverLabel(const config::ServerEntry& server);
// The main window's title while registered under `nick`, and while not.
QString connectedTitle(const QByteArray& nick);
QString idleTitle();

// The question put to the user about a TLS server's certificate that did not verify:
// `fingerprint` is its SHA-256 digest in hex, `problems` what verification found.
QString trustTitle();
QString trustQuestion(const QByteArray& address, const QString& problems,
                      const QByteArray& fingerprint);
// "AB:CD:..." for a digest given in hex, the way certificate viewers show it.
QString fingerprintText(const QByteArray& fingerprint);

} // namespace irc
