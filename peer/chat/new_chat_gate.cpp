#include "peer/chat/new_chat_gate.h"

#include <algorithm>

namespace peer {

std::vector<NewChatGate::Held>::iterator NewChatGate::find(const QByteArray& nick)
{
    return std::find_if(m_held.begin(), m_held.end(), [&](const Held& held) {
        return m_same ? m_same(held.nick, nick) : held.nick == nick;
    });
}

NewChatGate::Verdict NewChatGate::arrive(const QByteArray& nick, const std::vector<HeldLine>& lines,
                                         qint64 nowMs)
{
    auto held = find(nick);
    if (held == m_held.end()) {
        while (!m_openedAt.empty() && nowMs - m_openedAt.front() >= kWindowMs)
            m_openedAt.pop_front();
        if (m_openedAt.size() < std::size_t(kMaxWindows)) {
            m_openedAt.push_back(nowMs);
            return Verdict::Open;
        }
        if (m_held.size() >= std::size_t(kMaxHeldSenders)) {
            if (m_dropNoted)
                return Verdict::Dropped;
            m_dropNoted = true;
            return Verdict::DroppedFirst;
        }
        m_held.push_back({nick, {}, std::nullopt});
        held = m_held.end() - 1;
    }
    for (const HeldLine& line : lines) {
        held->lines.push_back(line);
        if (held->lines.size() > std::size_t(kMaxHeldLines))
            held->lines.pop_front();
    }
    return Verdict::Held;
}

QList<QByteArray> NewChatGate::heldNicks() const
{
    QList<QByteArray> nicks;
    for (const Held& held : m_held)
        nicks << held.nick;
    return nicks;
}

std::vector<NewChatGate::HeldLine> NewChatGate::release(const QByteArray& nick)
{
    const auto held = find(nick);
    if (held == m_held.end())
        return {};
    std::vector<HeldLine> lines(held->lines.begin(), held->lines.end());
    m_held.erase(held);
    m_dropNoted = false;
    return lines;
}

std::optional<qint64> NewChatGate::logStart(const QByteArray& nick)
{
    const auto held = find(nick);
    return held == m_held.end() ? std::nullopt : held->logStart;
}

void NewChatGate::setLogStart(const QByteArray& nick, qint64 offset)
{
    const auto held = find(nick);
    if (held != m_held.end() && !held->logStart)
        held->logStart = offset;
}

void NewChatGate::clear()
{
    m_openedAt.clear();
    m_held.clear();
    m_dropNoted = false;
}

} // namespace peer
