#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// An account held in the server password as "account:password": the text before the first ':'
// names the account and must not be empty; everything after it is the password.
struct Account
{
    QByteArray name;
    QByteArray password;
};

std::optional<Account> accountIn(const QByteArray& serverpass);

// The AUTHENTICATE lines that carry a PLAIN login of `account`: the base64 of
// "account NUL account NUL password" in 400-byte pieces, and a lone '+' after a last piece of
// exactly 400 bytes, so the server knows the login ended there.
QList<QByteArray> plainLoginLines(const Account& account);

// The registration lines and, with an account, the capability negotiation that logs in to it
// before the server lets us on. Pure: it takes the server's lines and answers with the lines to
// send and what happened; the link does the sending.
//
// The order with an account is "CAP LS 302", "PASS <whole server password>", NICK, USER. PASS has
// to precede NICK and USER to count, and we cannot know before the server answers whether it
// will negotiate, so PASS always goes: a server (or bouncer) that ignores CAP or offers no SASL
// gets the account in PASS as it always did, and one that offers SASL ignores PASS when it wants
// no server password. The server holds the registration open until "CAP END" while it
// negotiates, so CAP END follows every ending of the negotiation (success, failure, refusal),
// except when the server never took part in it.
class Registration
{
public:
    enum class Outcome {
        None,
        LoggedIn,        // 903
        LoginFailed,     // 904, 905: wrong account or password
        NickLocked,      // 902: the nick belongs to another account
        Aborted,         // 906
        AlreadyLoggedIn, // 907
        NoPlainLogin,    // 908, or an offer of SASL without PLAIN
        NoSasl,          // CAP answered, but no SASL offered or granted
        NoCapabilities,  // the server does not negotiate (421 CAP, or 001 before any answer)
    };

    struct Reply
    {
        QList<QByteArray> send;
        Outcome outcome = Outcome::None;
        bool welcomed = false; // 001: the server let us on
    };

    Registration() = default;
    Registration(QByteArray nick, QByteArray realname, QByteArray serverpass);

    // The lines that open the registration, in order. Without an account exactly
    // [PASS <serverpass>] NICK USER, as before accounts existed.
    QList<QByteArray> start();
    // One line from the server, as received (without CR LF).
    Reply take(QByteArrayView line);

    bool hasAccount() const { return m_account.has_value(); }
    // Whether the server is still negotiating with us.
    bool negotiating() const { return m_phase != Phase::Off && m_phase != Phase::Done; }

private:
    enum class Phase { Off, Listing, Requesting, Authenticating, Done };

    Reply finish(Outcome outcome, bool sendEnd);
    Reply takeCap(const QList<QByteArray>& params);

    QByteArray m_nick;
    QByteArray m_realname;
    QByteArray m_serverpass;
    std::optional<Account> m_account;
    Phase m_phase = Phase::Off;
    QList<QByteArray> m_offered; // the capabilities of a CAP LS reply spread over several lines
    bool m_loginSent = false;
};

} // namespace irc
