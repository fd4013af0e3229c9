#pragma once

#include "irc/capabilities.h"
#include "irc/link_status.h"
#include "irc/message.h"
#include "irc/sasl_plain.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// The registration lines and, with an account, the capability negotiation that logs in to it
// before the server lets us on. Pure: it takes the server's lines and the time (milliseconds on
// any steady clock) and answers with the lines to send and what happened; the link does the
// sending and runs a timer for nextDeadline().
//
// With an account only "CAP LS 302" goes out first, and PASS, NICK and USER wait for the answer:
// PASS has to precede NICK and USER to count, and it must carry the account's password only to a
// server that offers no SASL. A server that offers SASL gets NICK and USER and the login; one
// that answers without SASL gets "PASS <whole server password>" as well; one that does not
// negotiate (421 or 451 for CAP, or no answer within kCapWaitMs) gets PASS, NICK and USER as it
// always did. The server holds the registration open until "CAP END" while it negotiates, so CAP
// END follows every ending of the negotiation, except when the server never took part in it.
//
// Without an account and without extensions the lines are exactly [PASS <serverpass>] NICK USER,
// as before accounts existed. With extensions (the user's option) "CAP LS 302" goes first and the
// registration lines follow at once, so that a server that does not negotiate lets us on as fast
// as ever; one that does gets "CAP REQ" for the extensions we use among those it offers (beside
// SASL with an account) and "CAP END" once it answered. Either way a registration that has not been
// welcomed (001) within kRegistrationTimeoutMs ends as TimedOut, and the link gives up the attempt.
class Registration
{
public:
    static constexpr qint64 kCapWaitMs = 5'000;
    static constexpr qint64 kRegistrationTimeoutMs = 60'000;
    // The CAP LS list a server may spread over continuation lines; past either bound the list is
    // taken as ended, so that a server cannot hold the registration with an endless list.
    static constexpr int kMaxCapLsLines = 16;
    static constexpr qsizetype kMaxCapLsBytes = 8'192;

    enum class Outcome {
        None,
        LoggedIn,        // 903
        LoginFailed,     // 904, 905: wrong account or password
        NickLocked,      // 902: the nick belongs to another account
        Aborted,         // 906
        AlreadyLoggedIn, // 907
        NoPlainLogin,    // 908, or an offer of SASL without PLAIN
        NoSasl,          // CAP answered, but no SASL offered or granted
        NoCapabilities,  // the server does not negotiate (421 or 451 for CAP, or no answer)
        TimedOut,        // no 001 within kRegistrationTimeoutMs: the attempt has failed
    };

    struct Reply
    {
        QList<QByteArray> send;
        Outcome outcome = Outcome::None;
        bool welcomed = false; // 001: the server let us on
        // The extensions granted changed (ACK, or a DEL once registered): capabilities() says.
        bool capabilitiesChanged = false;
        // The server offered its "sts" policy (stsPolicy()); over a plain link offering a TLS
        // port the registration stops there, so that nothing more goes out in clear.
        bool stsOffered = false;
    };

    // What the user and the debug window learn of an outcome: a failed login is a status of its
    // own, a plain note goes to the debug window only, and the rest says nothing.
    struct Report
    {
        std::optional<LinkStatus::Step> status;
        const char* note = nullptr;

        bool operator==(const Report& other) const;
    };
    static Report report(Outcome outcome);

    Registration() = default;
    // `extensions`: negotiate the IRCv3 extensions we use, with or without an account.
    Registration(QByteArray nick, QByteArray realname, QByteArray serverpass,
                 bool extensions = false);

    // Whether the link is encrypted (TLS); it is taken to be until said otherwise.
    void setSecure(bool secure) { m_secure = secure; }

    // The lines that open the registration at `nowMs`, in order.
    QList<QByteArray> start(qint64 nowMs = 0);
    // One line from the server, parsed.
    Reply take(const Message& message);
    // The time is `nowMs`: the wait for the CAP answer or the registration may have run out.
    Reply poll(qint64 nowMs);
    // When poll() has something to do next; nothing once the server let us on.
    std::optional<qint64> nextDeadline() const;

    bool hasAccount() const { return m_account.has_value(); }
    // The extensions the server granted on this connection.
    Capabilities capabilities() const { return m_granted; }
    // The server's "sts" policy as offered ("port=6697,duration=86400"), on any connection.
    const std::optional<QByteArray>& stsPolicy() const { return m_sts; }
    // Whether the server is still negotiating with us.
    bool negotiating() const { return m_phase != Phase::Off && m_phase != Phase::Done; }

private:
    enum class Phase { Off, Listing, Requesting, Authenticating, Done };

    QList<QByteArray> registrationLines(bool withPass) const;
    // The registration lines unless they went out already (with extensions they go at once).
    QList<QByteArray> sendRegistration(bool withPass);
    // A note about the account login means nothing to a registration without an account.
    Outcome forAccount(Outcome outcome) const { return m_account ? outcome : Outcome::None; }
    Reply finish(Outcome outcome, bool sendEnd);
    Reply notNegotiating();
    Reply takeCap(const Message::Params& params);
    Reply takeCapList(const Message::Params& params);
    Reply takeLogin(QByteArrayView command, const Message::Params& params);
    Reply takeAnswer(bool granted, const QList<QByteArray>& names);
    // Ends the negotiation once nothing is left to wait for.
    Reply endWhenAnswered(Reply reply);
    Reply takeChange(const Message::Params& params);

    QByteArray m_nick;
    QByteArray m_realname;
    QByteArray m_serverpass;
    std::optional<Account> m_account;
    Phase m_phase = Phase::Off;
    QList<QByteArray> m_offered; // the capabilities of a CAP LS reply spread over several lines
    int m_listLines = 0;
    qsizetype m_listBytes = 0;
    bool m_loginSent = false;
    bool m_extensions = false;
    bool m_registrationSent = false;
    // What the server has yet to answer: our extensions' CAP REQ, the one for SASL, the login.
    bool m_extrasOpen = false;
    bool m_saslOpen = false;
    bool m_authenticating = false;
    Outcome m_outcome = Outcome::None; // what the negotiation ends with, once answered
    Capabilities m_granted;
    std::optional<QByteArray> m_sts;
    bool m_secure = true;
    // Given up waiting for the CAP answer: a server that answers after all is still waiting for
    // our CAP END before it lets us on.
    bool m_lateAnswerNeedsEnd = false;
    bool m_started = false;
    bool m_welcomed = false;
    bool m_timedOut = false;
    qint64 m_capDeadline = 0;
    qint64 m_deadline = 0;
};

} // namespace irc
