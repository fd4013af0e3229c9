#include "irc/typing.h"

#include <algorithm>

namespace irc {

namespace {

constexpr QByteArrayView kTypingKey = "+typing";

bool isMessageText(const QString& text)
{
    return !text.isEmpty() && !text.startsWith(QLatin1Char('/'));
}

} // namespace

QByteArrayView typingValue(TypingState state)
{
    switch (state) {
    case TypingState::Active:
        return "active";
    case TypingState::Paused:
        return "paused";
    case TypingState::Done:
        break;
    }
    return "done";
}

Tag typingTag(TypingState state)
{
    return Tag{kTypingKey, typingValue(state).toByteArray()};
}

std::optional<TypingState> typingState(const Message& message)
{
    for (const Tag& tag : message.tags) {
        if (tag.key != kTypingKey)
            continue;
        for (const TypingState state :
             {TypingState::Active, TypingState::Paused, TypingState::Done}) {
            if (tag.value == typingValue(state))
                return state;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<TypingState> TypingSender::setEnabled(bool enabled)
{
    m_enabled = enabled;
    return enabled ? std::nullopt : finish();
}

std::optional<TypingState> TypingSender::edited(const QString& inputText, qint64 nowMs)
{
    if (!m_enabled)
        return std::nullopt;
    if (!isMessageText(inputText))
        return finish();
    m_lastEditMs = nowMs;
    if (m_announced == TypingState::Active && nowMs - m_lastActiveMs < kActiveIntervalMs)
        return std::nullopt;
    m_announced = TypingState::Active;
    m_lastActiveMs = nowMs;
    return TypingState::Active;
}

std::optional<TypingState> TypingSender::idle(qint64 nowMs)
{
    if (!m_enabled || m_announced != TypingState::Active || nowMs - m_lastEditMs < kPauseAfterMs)
        return std::nullopt;
    m_announced = TypingState::Paused;
    return TypingState::Paused;
}

std::optional<TypingState> TypingSender::sent()
{
    return finish();
}

std::optional<TypingState> TypingSender::finish()
{
    if (!m_announced)
        return std::nullopt;
    m_announced.reset();
    return TypingState::Done;
}

void TypingWatch::received(const QByteArray& nick, TypingState state, qint64 nowMs)
{
    prune(nowMs);
    if (state == TypingState::Done) {
        messageFrom(nick);
        return;
    }
    const bool paused = state == TypingState::Paused;
    const qint64 untilMs = nowMs + (paused ? kPausedShownMs : kActiveShownMs);
    for (Entry& entry : m_entries) {
        if (entry.nick == nick) {
            entry.paused = paused;
            entry.untilMs = untilMs;
            return;
        }
    }
    if (m_entries.size() >= kMaxTypists) {
        auto stalest =
            std::min_element(m_entries.begin(), m_entries.end(),
                             [](const Entry& a, const Entry& b) { return a.untilMs < b.untilMs; });
        m_entries.erase(stalest);
    }
    m_entries.append(Entry{nick, paused, untilMs});
}

void TypingWatch::messageFrom(const QByteArray& nick)
{
    m_entries.removeIf([&](const Entry& entry) { return entry.nick == nick; });
}

QList<TypingWatch::Typist> TypingWatch::typingNow(qint64 nowMs) const
{
    QList<Typist> shown;
    for (const Entry& entry : m_entries) {
        if (nowMs < entry.untilMs)
            shown.append(Typist{entry.nick, entry.paused});
    }
    return shown;
}

void TypingWatch::prune(qint64 nowMs)
{
    m_entries.removeIf([&](const Entry& entry) { return nowMs >= entry.untilMs; });
}

} // namespace irc
