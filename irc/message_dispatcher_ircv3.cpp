// The dispatcher's handlers of the IRCv3 extensions: away, typing, echoes and refusals.
#include "irc/message_dispatcher.h"

namespace irc {

bool MessageDispatcher::isOwnEcho(const Message& message) const
{
    if (!m_capabilities.has(Capability::EchoMessage) || !message.hasSource())
        return false;
    const QByteArrayView sender = GetSenderNick(message);
    return !sender.isEmpty() && sender.compare(m_actions.nickInUse(), Qt::CaseInsensitive) == 0;
}

void MessageDispatcher::away(const Message& message)
{
    const QByteArrayView sender = GetSenderNick(message);
    if (!sender.isEmpty() && message.hasSource())
        m_actions.awayChanged(sender, message.params.isEmpty()
                                          ? std::nullopt
                                          : std::optional<QByteArrayView>(message.params.back()));
}

void MessageDispatcher::userhostReply(const Message& message)
{
    // ":server 302 me :bob=-user@host carol*=+user@host": '-' is away, '*' an operator.
    const std::optional<QByteArrayView> list = message.trailing();
    if (!list)
        return;
    QList<std::pair<QByteArray, bool>> states;
    for (const QByteArray& entry : list->toByteArray().split(' ')) {
        const qsizetype equals = entry.indexOf('=');
        if (equals <= 0 || equals + 1 >= entry.size())
            continue;
        QByteArray nick = entry.left(equals);
        if (nick.endsWith('*'))
            nick.chop(1);
        const char mark = entry.at(equals + 1);
        if (!nick.isEmpty() && (mark == '-' || mark == '+'))
            states.append({nick, mark == '-'});
    }
    if (!states.isEmpty())
        m_actions.awayStates(states);
}

void MessageDispatcher::tagMsg(const Message& message)
{
    // Typing in a channel is not ours to show; only what is sent to us alone.
    if (!message.hasSource() || message.params.isEmpty() || isChannel(message.params[0])
        || isOwnEcho(message))
        return;
    if (const std::optional<TypingState> state = typingState(message))
        m_actions.typingNotice(GetSenderNick(message), *state);
}

void MessageDispatcher::ack(const Message& message)
{
    m_actions.ownLineEchoed(message);
}

void MessageDispatcher::refusal(const Message& message)
{
    m_actions.lineRefused(message);
}

} // namespace irc
