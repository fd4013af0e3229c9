#include "irc/registration.h"

#include "irc/commands.h"
#include "irc/message.h"
#include "irc/texts.h"

#include <algorithm>

namespace irc {

namespace {

constexpr qsizetype kLoginPiece = 400;

// A line the factories refused (a nick with a blank, say) stays off the wire.
void append(QList<QByteArray>& lines, const std::optional<QByteArray>& line)
{
    if (line)
        lines << *line;
}

bool sameWord(QByteArrayView a, const char* b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QList<QByteArray> words(QByteArrayView text)
{
    QList<QByteArray> list = text.toByteArray().split(' ');
    list.removeAll(QByteArray());
    return list;
}

// The value of `name` among offered capabilities ("sasl" or "sasl=PLAIN,EXTERNAL"); nothing
// when it is not offered, an empty value when it is offered bare.
std::optional<QByteArray> offeredValue(const QList<QByteArray>& offered, const QByteArray& name)
{
    for (const QByteArray& cap : offered) {
        if (cap == name)
            return QByteArray();
        if (cap.startsWith(name + '='))
            return cap.mid(name.size() + 1);
    }
    return std::nullopt;
}

bool takesPlain(const QByteArray& mechanisms)
{
    if (mechanisms.isEmpty())
        return true; // a bare "sasl" (CAP LS without 302) names no mechanisms: try PLAIN
    for (const QByteArray& mechanism : mechanisms.split(',')) {
        if (sameWord(mechanism, "PLAIN"))
            return true;
    }
    return false;
}

} // namespace

std::optional<Account> accountIn(const QByteArray& serverpass)
{
    const qsizetype colon = serverpass.indexOf(':');
    if (colon <= 0)
        return std::nullopt;
    return Account{serverpass.left(colon), serverpass.mid(colon + 1)};
}

QList<QByteArray> plainLoginLines(const Account& account)
{
    QByteArray payload = account.name;
    payload += '\0';
    payload += account.name;
    payload += '\0';
    payload += account.password;
    const QByteArray encoded = payload.toBase64();
    QList<QByteArray> lines;
    for (qsizetype at = 0; at < encoded.size(); at += kLoginPiece)
        append(lines, Command::authenticate(encoded.mid(at, kLoginPiece)));
    if (encoded.size() % kLoginPiece == 0)
        append(lines, Command::authenticate("+"));
    return lines;
}

Registration::Registration(QByteArray nick, QByteArray realname, QByteArray serverpass)
    : m_nick(std::move(nick))
    , m_realname(std::move(realname))
    , m_serverpass(std::move(serverpass))
    , m_account(accountIn(m_serverpass))
{}

QList<QByteArray> Registration::registrationLines(bool withPass) const
{
    QList<QByteArray> lines;
    if (withPass && !m_serverpass.isEmpty())
        append(lines, Command::pass(m_serverpass));
    append(lines, Command::nick(m_nick));
    // USER needs a real name: strict servers refuse an empty one and never let us on.
    append(lines, Command::user(m_nick, m_realname.isEmpty() ? m_nick : m_realname));
    return lines;
}

QList<QByteArray> Registration::start(qint64 nowMs)
{
    m_offered.clear();
    m_listLines = 0;
    m_listBytes = 0;
    m_loginSent = false;
    m_lateAnswerNeedsEnd = false;
    m_welcomed = false;
    m_timedOut = false;
    m_started = true;
    m_deadline = nowMs + kRegistrationTimeoutMs;
    if (!m_account) {
        m_phase = Phase::Off;
        return registrationLines(true);
    }
    m_phase = Phase::Listing;
    m_capDeadline = nowMs + kCapWaitMs;
    return {Command::capList()};
}

Registration::Reply Registration::finish(Outcome outcome, bool sendEnd)
{
    m_phase = Phase::Done;
    m_offered.clear();
    Reply reply;
    reply.outcome = outcome;
    if (sendEnd)
        reply.send << Command::capEnd();
    return reply;
}

Registration::Reply Registration::notNegotiating()
{
    Reply reply = finish(Outcome::NoCapabilities, false);
    reply.send = registrationLines(true);
    return reply;
}

Registration::Reply Registration::poll(qint64 nowMs)
{
    if (!m_started || m_welcomed || m_timedOut)
        return {};
    if (nowMs >= m_deadline) {
        m_timedOut = true;
        m_phase = Phase::Done;
        return {{}, Outcome::TimedOut};
    }
    if (m_phase == Phase::Listing && nowMs >= m_capDeadline) {
        m_lateAnswerNeedsEnd = true;
        return notNegotiating();
    }
    return {};
}

std::optional<qint64> Registration::nextDeadline() const
{
    if (!m_started || m_welcomed || m_timedOut)
        return std::nullopt;
    return m_phase == Phase::Listing ? std::min(m_capDeadline, m_deadline) : m_deadline;
}

Registration::Reply Registration::take(const Message& message)
{
    if (m_timedOut)
        return {};
    const QByteArrayView command = message.command;
    const Message::Params& params = message.params;

    if (command == "001") {
        // Let on once: a server that welcomes again does not start the link's polls again.
        if (m_welcomed)
            return {};
        m_welcomed = true;
        Reply reply;
        // Welcomed while still waiting for an answer: the server went on without negotiating.
        if (m_phase == Phase::Listing)
            reply = finish(Outcome::NoCapabilities, false);
        else if (negotiating())
            m_phase = Phase::Done;
        m_lateAnswerNeedsEnd = false;
        reply.welcomed = true;
        return reply;
    }
    if (m_lateAnswerNeedsEnd && sameWord(command, "CAP") && params.size() >= 3
        && sameWord(params.at(1), "LS") && params.at(2) != "*") {
        m_lateAnswerNeedsEnd = false;
        return {{Command::capEnd()}, Outcome::None};
    }
    if (!negotiating())
        return {};

    // Before registering, some servers refuse every command they do not know with 451.
    const bool refusedCap =
        (command == "421" && params.size() >= 2 && sameWord(params.at(1), "CAP"))
        || (command == "451" && m_phase == Phase::Listing);
    if (refusedCap)
        return m_phase == Phase::Listing ? notNegotiating()
                                         : finish(Outcome::NoCapabilities, false);
    if (command == "410") { // our CAP subcommand is not understood: nothing to negotiate
        const bool listing = m_phase == Phase::Listing;
        Reply reply = finish(Outcome::NoSasl, true);
        if (listing)
            reply.send = registrationLines(true) + reply.send;
        return reply;
    }
    if (sameWord(command, "CAP"))
        return takeCap(params);
    return takeLogin(command, params);
}

Registration::Reply Registration::takeLogin(QByteArrayView command, const Message::Params& params)
{
    if (m_phase == Phase::Authenticating && sameWord(command, "AUTHENTICATE")) {
        if (!m_loginSent && !params.isEmpty() && params.front() == "+") {
            m_loginSent = true;
            return {plainLoginLines(*m_account), Outcome::None};
        }
        return {};
    }
    if (m_phase != Phase::Requesting && m_phase != Phase::Authenticating)
        return {};
    if (command == "903")
        return finish(Outcome::LoggedIn, true);
    if (command == "904" || command == "905")
        return finish(Outcome::LoginFailed, true);
    if (command == "902")
        return finish(Outcome::NickLocked, true);
    if (command == "906")
        return finish(Outcome::Aborted, true);
    if (command == "907")
        return finish(Outcome::AlreadyLoggedIn, true);
    if (command == "908")
        return finish(Outcome::NoPlainLogin, true);
    return {};
}

Registration::Reply Registration::takeCapList(const Message::Params& params)
{
    bool more = params.size() >= 4 && params.at(2) == "*";
    const QByteArrayView list = params.at(more ? 3 : 2);
    ++m_listLines;
    m_listBytes += list.size();
    if (m_listBytes <= kMaxCapLsBytes)
        m_offered << words(list);
    if (m_listLines >= kMaxCapLsLines || m_listBytes >= kMaxCapLsBytes)
        more = false; // judged on what came so far
    if (more)
        return {};
    const std::optional<QByteArray> sasl = offeredValue(m_offered, "sasl");
    if (!sasl) {
        Reply reply = finish(Outcome::NoSasl, true);
        reply.send = registrationLines(true) + reply.send;
        return reply;
    }
    // The server offers SASL: the password goes in the login, never in PASS.
    if (!takesPlain(*sasl)) {
        Reply reply = finish(Outcome::NoPlainLogin, true);
        reply.send = registrationLines(false) + reply.send;
        return reply;
    }
    m_phase = Phase::Requesting;
    m_offered.clear();
    QList<QByteArray> send = registrationLines(false);
    append(send, Command::capRequest("sasl"));
    return {send, Outcome::None};
}

Registration::Reply Registration::takeCap(const Message::Params& params)
{
    // params: target, subcommand, ["*" when more lines follow,] capabilities
    if (params.size() < 3)
        return {};
    const QByteArrayView sub = params.at(1);
    if (sameWord(sub, "LS") && m_phase == Phase::Listing)
        return takeCapList(params);
    if (m_phase != Phase::Requesting)
        return {};
    if (sameWord(sub, "ACK")) {
        if (!words(params.at(2)).contains("sasl"))
            return finish(Outcome::NoSasl, true);
        m_phase = Phase::Authenticating;
        QList<QByteArray> send;
        append(send, Command::authenticate("PLAIN"));
        return {send, Outcome::None};
    }
    if (sameWord(sub, "NAK"))
        return finish(Outcome::NoSasl, true);
    return {};
}

bool Registration::Report::operator==(const Report& other) const
{
    return status == other.status && QByteArrayView(note) == QByteArrayView(other.note);
}

Registration::Report Registration::report(Outcome outcome)
{
    using Step = LinkStatus::Step;
    switch (outcome) {
    case Outcome::None:
    case Outcome::TimedOut: // the link fails the attempt, which says enough
        return {};
    case Outcome::LoggedIn:
        return {std::nullopt, text::kLogAccountLoggedIn};
    case Outcome::LoginFailed:
        return {Step::AccountLoginFailed};
    case Outcome::NickLocked:
        return {Step::AccountNickLocked};
    case Outcome::Aborted:
        return {Step::AccountLoginAborted};
    case Outcome::AlreadyLoggedIn:
        return {Step::AccountAlreadyLoggedIn};
    case Outcome::NoPlainLogin:
        return {Step::AccountNoPlainLogin};
    case Outcome::NoSasl:
        return {std::nullopt, text::kLogAccountNoSasl};
    case Outcome::NoCapabilities:
        return {std::nullopt, text::kLogAccountNoCapabilities};
    }
    return {};
}

} // namespace irc
