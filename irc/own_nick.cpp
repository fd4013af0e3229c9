#include "irc/own_nick.h"

namespace irc {

namespace {

// What the server names us must stand as one word of a line (a WHO, an ident answer): a nick
// with a blank, a control or a leading ':' is not taken.
bool isNickWord(QByteArrayView nick)
{
    if (nick.isEmpty() || nick.front() == ':')
        return false;
    for (const char c : nick) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f)
            return false;
    }
    return true;
}

} // namespace

void OwnNick::start(const QByteArray& nick, const QByteArray& altnick)
{
    setChoices(nick, altnick);
    m_nick = nick;
    m_asked = nick;
    m_tries = 0;
    m_welcomed = false;
}

void OwnNick::setChoices(const QByteArray& nick, const QByteArray& altnick)
{
    m_configured = nick;
    m_altnick = altnick;
}

void OwnNick::asked(const QByteArray& nick)
{
    m_asked = nick;
    m_tries = 0;
}

void OwnNick::confirmed(QByteArrayView nick)
{
    m_nick = nick.toByteArray();
    m_asked = m_nick;
    m_tries = 0;
}

OwnNick::Reply OwnNick::take(const Message& message)
{
    const QByteArrayView command = message.command;
    if (command == "001") {
        // ":server 001 <our nick> :Welcome": what the server let us on as, cut or not.
        if (!message.params.isEmpty() && isNickWord(message.params.front()))
            confirmed(message.params.front());
        m_welcomed = true;
        return {};
    }
    if (command == "NICK") {
        // ":old!user@host NICK <new>": ours only when the old nick is the one we hold.
        if (!message.hasSource() || message.params.isEmpty() || !isNickWord(message.params.front()))
            return {};
        const QByteArrayView from = splitUserHost(message.source).nick;
        if (from.compare(m_nick, Qt::CaseInsensitive) != 0)
            return {};
        confirmed(message.params.front());
        Reply reply;
        reply.renamed = true;
        return reply;
    }
    if (command != "433" && command != "432")
        return {};
    if (m_welcomed) {
        // A change we asked for: the nick we hold stays ours.
        m_asked = m_nick;
        Reply reply;
        reply.refusal = refusalOf(message);
        return reply;
    }
    Reply reply = refused();
    if (command == "432")
        reply.refusal = refusalOf(message);
    return reply;
}

OwnNick::Reply::Refusal OwnNick::refusalOf(const Message& message)
{
    // ":server 433 <us> <nick> :Nickname is already in use"
    Reply::Refusal refusal;
    if (message.params.size() >= 2)
        refusal.nick = message.params[1].toByteArray();
    if (message.params.size() >= 3)
        refusal.reason = message.params.back().toByteArray();
    return refusal;
}

OwnNick::Reply OwnNick::refused()
{
    Reply reply;
    // Said once; later refusals (a server answering the last tries) say nothing more.
    if (m_tries > kMaxTries)
        return reply;
    if (m_tries == kMaxTries) {
        ++m_tries;
        reply.gaveUp = true;
        return reply;
    }
    ++m_tries;
    QByteArray next = m_asked == m_configured ? m_altnick : m_configured;
    // Without an alternate nick, "NICK " alone would only draw an error from the server.
    if (next.isEmpty())
        next = m_configured + '_';
    m_asked = next;
    reply.askFor = next;
    return reply;
}

} // namespace irc
