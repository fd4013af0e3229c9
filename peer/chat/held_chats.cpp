#include "peer/chat/held_chats.h"

#include "diag/debug_log.h"
#include "peer/chat/chat_logger.h"
#include "peer/common/chat_host.h"

#include <algorithm>

namespace peer {

HeldChats::HeldChats(ChatHost& host, ChatLogger& logger)
    : m_host(host)
    , m_logger(logger)
{
    m_gate.setNickComparison(
        [this](QByteArrayView a, QByteArrayView b) { return m_host.nicks().same(a, b); });
    m_clock.start();
}

bool HeldChats::isContact(const QByteArray& nick) const
{
    const QList<QByteArray> contacts = m_host.contactNicks();
    return std::any_of(contacts.begin(), contacts.end(), [&](const QByteArray& contact) {
        return m_host.nicks().same(contact, nick);
    });
}

HeldChats::Admission HeldChats::admit(const QByteArray& sender,
                                      const std::optional<QByteArray>& text,
                                      const std::optional<QByteArray>& awayEcho,
                                      const QDateTime& at, bool unprotected)
{
    if (isContact(sender))
        return Admission::Open;
    std::vector<NewChatGate::HeldLine> lines;
    if (text)
        lines.push_back({*text, false, unprotected});
    if (awayEcho)
        lines.push_back({*awayEcho, true});
    const int heldBefore = m_gate.heldCount();
    const NewChatGate::Verdict verdict = m_gate.arrive(sender, lines, m_clock.elapsed());
    if (verdict != NewChatGate::Verdict::Open) {
        const std::optional<qint64> start = m_logger.unshown(sender, lines, at);
        if (start)
            m_gate.setLogStart(sender, *start);
    }
    switch (verdict) {
    case NewChatGate::Verdict::Open:
        return Admission::Open;
    case NewChatGate::Verdict::Held:
        // The entry lists people: more lines from one already listed change nothing there.
        return m_gate.heldCount() != heldBefore ? Admission::KeptNewly : Admission::Kept;
    case NewChatGate::Verdict::DroppedFirst:
        diag::DebugLog(QStringLiteral("Too many people outside the contact list wrote to you; "
                                      "what more of them write is dropped until you open theirs"));
        return Admission::Refused;
    case NewChatGate::Verdict::Dropped:
        return Admission::Refused;
    }
    return Admission::Refused;
}

} // namespace peer
