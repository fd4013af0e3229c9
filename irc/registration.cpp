#include "irc/registration.h"

#include "irc/commands.h"
#include "irc/message.h"
#include "irc/sts.h"
#include "irc/texts.h"

#include <algorithm>

namespace irc {

namespace {

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

} // namespace

Registration::Registration(QByteArray nick, QByteArray realname, QByteArray serverpass,
                           bool extensions)
    : m_nick(std::move(nick))
    , m_realname(std::move(realname))
    , m_serverpass(std::move(serverpass))
    , m_account(accountIn(m_serverpass))
    , m_extensions(extensions)
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

QList<QByteArray> Registration::sendRegistration(bool withPass)
{
    if (m_registrationSent)
        return {};
    m_registrationSent = true;
    return registrationLines(withPass);
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
    m_registrationSent = false;
    m_extrasOpen = false;
    m_saslOpen = false;
    m_authenticating = false;
    m_outcome = Outcome::None;
    m_granted = {};
    m_sts.reset();
    m_deadline = nowMs + kRegistrationTimeoutMs;
    if (!m_account && !m_extensions) {
        m_phase = Phase::Off;
        return sendRegistration(true);
    }
    m_phase = Phase::Listing;
    m_capDeadline = nowMs + kCapWaitMs;
    QList<QByteArray> lines{Command::capList()};
    // Without an account nothing waits for the answer: PASS needs no choice made first.
    if (!m_account)
        lines += sendRegistration(true);
    return lines;
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
    Reply reply = finish(forAccount(Outcome::NoCapabilities), false);
    reply.send = sendRegistration(true);
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
            reply = finish(forAccount(Outcome::NoCapabilities), false);
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
    if (m_extensions && m_welcomed && sameWord(command, "CAP") && params.size() >= 3)
        return takeChange(params);
    if (!negotiating())
        return {};

    // Before registering, some servers refuse every command they do not know with 451.
    const bool refusedCap =
        (command == "421" && params.size() >= 2 && sameWord(params.at(1), "CAP"))
        || (command == "451" && m_phase == Phase::Listing);
    if (refusedCap)
        return m_phase == Phase::Listing ? notNegotiating()
                                         : finish(forAccount(Outcome::NoCapabilities), false);
    if (command == "410") { // our CAP subcommand is not understood: nothing to negotiate
        Reply reply = finish(forAccount(Outcome::NoSasl), true);
        reply.send = sendRegistration(true) + reply.send;
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
    static constexpr std::pair<const char*, Outcome> kLoginEnds[] = {
        {"903", Outcome::LoggedIn},     {"904", Outcome::LoginFailed},
        {"905", Outcome::LoginFailed},  {"902", Outcome::NickLocked},
        {"906", Outcome::Aborted},      {"907", Outcome::AlreadyLoggedIn},
        {"908", Outcome::NoPlainLogin},
    };
    for (const auto& [numeric, outcome] : kLoginEnds) {
        if (command == numeric) {
            m_saslOpen = false;
            m_authenticating = false;
            m_outcome = outcome;
            return endWhenAnswered({});
        }
    }
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
    const QList<QByteArray> wanted =
        m_extensions ? wantedCapabilities(m_offered) : QList<QByteArray>();
    if (m_extensions)
        m_sts = offeredValue(m_offered, "sts");
    if (m_sts && !m_secure) {
        const std::optional<StsValue> sts = parseSts(*m_sts);
        if (sts && sts->port) {
            // The same server over TLS is next: no password, no request goes out in clear.
            m_offered.clear();
            m_phase = Phase::Done;
            Reply reply;
            reply.stsOffered = true;
            return reply;
        }
    }
    Reply reply;
    reply.stsOffered = m_sts.has_value();
    bool login = false;
    if (m_account) {
        const std::optional<QByteArray> sasl = offeredValue(m_offered, "sasl");
        // A server that offers SASL gets the password in the login, never in PASS.
        reply.send = sendRegistration(!sasl);
        if (!sasl)
            m_outcome = Outcome::NoSasl;
        else if (!takesPlain(*sasl))
            m_outcome = Outcome::NoPlainLogin;
        else
            login = true;
    }
    m_offered.clear();
    m_phase = Phase::Requesting;
    if (!wanted.isEmpty()) {
        append(reply.send, Command::capRequest(wanted.join(' ')));
        m_extrasOpen = true;
    }
    if (login) {
        append(reply.send, Command::capRequest("sasl"));
        m_saslOpen = true;
        m_outcome = Outcome::NoSasl; // unless the server grants it
    }
    return endWhenAnswered(reply);
}

Registration::Reply Registration::endWhenAnswered(Reply reply)
{
    if (m_extrasOpen || m_saslOpen || m_authenticating)
        return reply;
    Reply end = finish(m_outcome, true);
    end.send = reply.send + end.send;
    end.capabilitiesChanged = reply.capabilitiesChanged;
    end.stsOffered = reply.stsOffered;
    return end;
}

Registration::Reply Registration::takeAnswer(bool granted, const QList<QByteArray>& names)
{
    Reply reply;
    if (names.contains("sasl")) {
        m_saslOpen = false;
        if (granted) {
            m_authenticating = true;
            m_phase = Phase::Authenticating;
            append(reply.send, Command::authenticate("PLAIN"));
        }
    } else if (m_extrasOpen) {
        m_extrasOpen = false;
    } else {
        m_saslOpen = false; // an answer to something we never asked: no SASL today
    }
    if (granted) {
        for (const QByteArray& name : names) {
            if (const std::optional<Capability> capability = capabilityNamed(name)) {
                m_granted.add(*capability);
                reply.capabilitiesChanged = true;
            }
        }
    }
    return endWhenAnswered(reply);
}

Registration::Reply Registration::takeChange(const Message::Params& params)
{
    // Once registered, a server with cap-notify (implied by 302) may offer or withdraw more.
    const QByteArrayView sub = params.at(1);
    const QList<QByteArray> names = words(params.back());
    Reply reply;
    if (sameWord(sub, "NEW")) {
        QList<QByteArray> wanted;
        for (const QByteArray& name : wantedCapabilities(names)) {
            if (!m_granted.has(*capabilityNamed(name)))
                wanted << name;
        }
        if (const std::optional<QByteArray> sts = offeredValue(names, "sts")) {
            m_sts = sts;
            reply.stsOffered = true;
        }
        if (!wanted.isEmpty())
            append(reply.send, Command::capRequest(wanted.join(' ')));
    } else if (sameWord(sub, "ACK") || sameWord(sub, "DEL")) {
        const bool granted = sameWord(sub, "ACK");
        for (const QByteArray& name : names) {
            const std::optional<Capability> capability = capabilityNamed(name);
            if (!capability)
                continue;
            granted ? m_granted.add(*capability) : m_granted.remove(*capability);
            reply.capabilitiesChanged = true;
        }
    }
    return reply;
}

Registration::Reply Registration::takeCap(const Message::Params& params)
{
    // params: target, subcommand, ["*" when more lines follow,] capabilities
    if (params.size() < 3)
        return {};
    const QByteArrayView sub = params.at(1);
    if (sameWord(sub, "LS") && m_phase == Phase::Listing)
        return takeCapList(params);
    if (m_phase != Phase::Requesting && m_phase != Phase::Authenticating)
        return {};
    if (sameWord(sub, "ACK") || sameWord(sub, "NAK"))
        return takeAnswer(sameWord(sub, "ACK"), words(params.back()));
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
