#include "peer/typing_notices.h"

#include "irc/commands.h"
#include "irc/server_events.h"
#include "irc/server_link.h"

#include <QElapsedTimer>

#include <memory>

namespace peer {

TypingNotices::TypingNotices(QObject* parent)
    : QObject(parent)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    m_clockMs = [clock] { return clock->elapsed(); };
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &TypingNotices::tick);
}

bool TypingNotices::mayTell() const
{
    return m_sending && m_capabilities.has(irc::Capability::MessageTags);
}

void TypingNotices::setCapabilities(irc::Capabilities capabilities)
{
    m_capabilities = capabilities;
    if (!capabilities.has(irc::Capability::MessageTags)) {
        // A new connection: nobody there saw us type, and nothing we were shown still holds.
        m_outgoing.clear();
        const QList<QByteArray> shown = m_shown.keys();
        m_watch = {};
        m_shown.clear();
        for (const QByteArray& folded : shown)
            emit shownChanged(m_spelling.value(folded, folded));
        m_spelling.clear();
    }
    updateTimer();
}

void TypingNotices::setSending(bool on)
{
    m_sending = on;
    if (on)
        return;
    // Off while announced: "done", so that nobody is left seeing us type.
    for (auto& [folded, outgoing] : m_outgoing) {
        if (const auto state = outgoing.sender.setEnabled(false);
            state && m_capabilities.has(irc::Capability::MessageTags))
            emit tagToSend(outgoing.nick, *state);
    }
    m_outgoing.clear();
    updateTimer();
}

void TypingNotices::tell(const QByteArray& nick, std::optional<irc::TypingState> state)
{
    if (state)
        emit tagToSend(nick, *state);
    updateTimer();
}

void TypingNotices::edited(const QByteArray& nick, const QString& text)
{
    if (!mayTell())
        return;
    Outgoing& outgoing =
        m_outgoing.try_emplace(key(nick), Outgoing{nick, irc::TypingSender(true)}).first->second;
    outgoing.nick = nick;
    tell(nick, outgoing.sender.edited(text, m_clockMs()));
}

void TypingNotices::sent(const QByteArray& nick)
{
    const auto it = m_outgoing.find(key(nick));
    if (it == m_outgoing.end())
        return;
    // The message itself ends the typing for the receiver: a "done" after it would only be one
    // more line for the server to relay.
    it->second.sender.sent();
    m_outgoing.erase(it);
    updateTimer();
}

void TypingNotices::received(const QByteArray& nick, irc::TypingState state)
{
    const QByteArray folded = key(nick);
    m_spelling.insert(folded, nick);
    m_watch.received(folded, state, m_clockMs());
    tick();
}

void TypingNotices::messageFrom(const QByteArray& nick)
{
    const QByteArray folded = key(nick);
    if (!m_shown.contains(folded))
        return;
    m_watch.messageFrom(folded);
    tick();
}

QString TypingNotices::shownFor(const QByteArray& nick) const
{
    return m_shown.value(key(nick));
}

void TypingNotices::tick()
{
    const qint64 now = m_clockMs();
    for (auto it = m_outgoing.begin(); it != m_outgoing.end();) {
        const std::optional<irc::TypingState> state = it->second.sender.idle(now);
        if (state && mayTell())
            emit tagToSend(it->second.nick, *state);
        // Paused is the last thing said until the user edits again.
        it = state ? m_outgoing.erase(it) : std::next(it);
    }
    QHash<QByteArray, QString> shown;
    for (const irc::TypingWatch::Typist& typist : m_watch.typingNow(now)) {
        if (!typist.paused)
            shown.insert(typist.nick,
                         tr("%1 is typing…").arg(QString::fromUtf8(m_spelling.value(typist.nick))));
    }
    QList<QByteArray> changed;
    for (auto it = m_shown.cbegin(); it != m_shown.cend(); ++it) {
        if (shown.value(it.key()) != it.value())
            changed << it.key();
    }
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        if (!m_shown.contains(it.key()))
            changed << it.key();
    }
    m_shown = shown;
    for (const QByteArray& folded : changed)
        emit shownChanged(m_spelling.value(folded, folded));
    updateTimer();
}

void TypingNotices::updateTimer()
{
    const bool busy = !m_outgoing.empty() || !m_shown.isEmpty();
    if (busy && !m_timer.isActive())
        m_timer.start();
    else if (!busy)
        m_timer.stop();
}

void TypingNotices::follow(irc::ServerLink& link, irc::ServerEvents& events)
{
    connect(&link, &irc::ServerLink::capabilitiesChanged, this, &TypingNotices::setCapabilities);
    connect(&events, &irc::ServerEvents::typing, this, &TypingNotices::received);
    connect(this, &TypingNotices::tagToSend, &link,
            [&link](const QByteArray& nick, irc::TypingState state) {
                if (const auto line = irc::Command::tagMsg(nick, {irc::typingTag(state)}))
                    link.sendLine(*line);
            });
}

} // namespace peer
