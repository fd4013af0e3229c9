#include "irc/registration.h"

#include "irc/message.h"

namespace irc {

namespace {

constexpr qsizetype kLoginPiece = 400;

bool sameWord(const QByteArray& a, const char* b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QList<QByteArray> words(const QByteArray& text)
{
    QList<QByteArray> list = text.split(' ');
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
        lines << "AUTHENTICATE " + encoded.mid(at, kLoginPiece);
    if (encoded.size() % kLoginPiece == 0)
        lines << "AUTHENTICATE +";
    return lines;
}

Registration::Registration(QByteArray nick, QByteArray realname, QByteArray serverpass)
    : m_nick(std::move(nick))
    , m_realname(std::move(realname))
    , m_serverpass(std::move(serverpass))
    , m_account(accountIn(m_serverpass))
{}

QList<QByteArray> Registration::start()
{
    QList<QByteArray> lines;
    m_offered.clear();
    m_loginSent = false;
    m_phase = Phase::Off;
    if (m_account) {
        lines << "CAP LS 302";
        m_phase = Phase::Listing;
    }
    if (!m_serverpass.isEmpty())
        lines << "PASS " + m_serverpass;
    lines << "NICK " + m_nick;
    // USER needs a real name: strict servers refuse an empty one and never let us on.
    lines << "USER " + m_nick + " 0 * :" + (m_realname.isEmpty() ? m_nick : m_realname);
    return lines;
}

Registration::Reply Registration::finish(Outcome outcome, bool sendEnd)
{
    m_phase = Phase::Done;
    m_offered.clear();
    Reply reply;
    reply.outcome = outcome;
    if (sendEnd)
        reply.send << "CAP END";
    return reply;
}

Registration::Reply Registration::take(QByteArrayView line)
{
    const std::optional<Message> message = parseMessage(line);
    if (!message)
        return {};
    const QByteArray& command = message->command;
    const QList<QByteArray>& params = message->params;

    if (command == "001") {
        Reply reply;
        // Welcomed while still waiting for an answer: the server went on without negotiating.
        if (m_phase == Phase::Listing)
            reply = finish(Outcome::NoCapabilities, false);
        else if (negotiating())
            m_phase = Phase::Done;
        reply.welcomed = true;
        return reply;
    }
    if (!negotiating())
        return {};

    if (command == "421" && params.size() >= 2 && sameWord(params.at(1), "CAP"))
        return finish(Outcome::NoCapabilities, false);
    if (command == "410") // our CAP subcommand is not understood: nothing to negotiate
        return finish(Outcome::NoSasl, true);
    if (sameWord(command, "CAP"))
        return takeCap(params);

    if (m_phase == Phase::Authenticating && sameWord(command, "AUTHENTICATE")) {
        if (!m_loginSent && !params.isEmpty() && params.constFirst() == "+") {
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

Registration::Reply Registration::takeCap(const QList<QByteArray>& params)
{
    // params: target, subcommand, ["*" when more lines follow,] capabilities
    if (params.size() < 3)
        return {};
    const QByteArray& sub = params.at(1);
    if (sameWord(sub, "LS") && m_phase == Phase::Listing) {
        const bool more = params.size() >= 4 && params.at(2) == "*";
        m_offered << words(params.at(more ? 3 : 2));
        if (more)
            return {};
        const std::optional<QByteArray> sasl = offeredValue(m_offered, "sasl");
        if (!sasl)
            return finish(Outcome::NoSasl, true);
        if (!takesPlain(*sasl))
            return finish(Outcome::NoPlainLogin, true);
        m_phase = Phase::Requesting;
        m_offered.clear();
        return {{"CAP REQ :sasl"}, Outcome::None};
    }
    if (m_phase != Phase::Requesting)
        return {};
    if (sameWord(sub, "ACK")) {
        if (!words(params.at(2)).contains("sasl"))
            return finish(Outcome::NoSasl, true);
        m_phase = Phase::Authenticating;
        return {{"AUTHENTICATE PLAIN"}, Outcome::None};
    }
    if (sameWord(sub, "NAK"))
        return finish(Outcome::NoSasl, true);
    return {};
}

} // namespace irc
