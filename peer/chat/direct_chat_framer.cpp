#include "peer/chat/direct_chat_framer.h"

#include "peer/crypto/encrypted_chat.h"

#include <algorithm>

namespace peer {
namespace {

constexpr qsizetype kWait = -1;
constexpr qsizetype kHeader = 4;
constexpr qsizetype kFaultExcerpt = 16;
constexpr char kLineEnd = '\n';
constexpr char kCtcpMark = '\x01';

const QByteArrayView kKeyPrefix(kKeyMessagePrefix);
// The end message without its closing 0x01, which some peers leave out.
const QByteArrayView kEndStem(kEndMessage, sizeof(kEndMessage) - 2);

// Whether `rest` starts with `pattern` as far as both go; a shorter `rest` may still become it.
bool mayStartWith(QByteArrayView rest, QByteArrayView pattern)
{
    const qsizetype common = std::min(rest.size(), pattern.size());
    return rest.first(common) == pattern.first(common);
}

quint32 readBigEndian(QByteArrayView bytes)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | static_cast<quint8>(bytes[i]);
    return value;
}

} // namespace

QList<DirectChatEvent> DirectChatFramer::feed(QByteArrayView bytes)
{
    QList<DirectChatEvent> events;
    if (m_faulted)
        return events;
    m_pending.append(bytes);

    qsizetype pos = 0;
    while (!m_faulted && pos < m_pending.size()) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(pos);
        qsizetype used = kWait;
        if (m_discardingLine) {
            const qsizetype end = rest.indexOf(kLineEnd);
            m_discardingLine = end < 0;
            used = end < 0 ? rest.size() : end + 1;
        } else if (m_afterEnd) {
            used = takeEndTail(rest);
        } else {
            used = takeFrame(rest, events);
        }
        if (used == kWait)
            break;
        if (used > 0)
            m_scanned = 0;
        pos += used;
    }

    if (m_faulted) {
        m_pending.clear();
        m_scanned = 0;
    } else {
        m_pending.remove(0, pos);
    }
    return events;
}

void DirectChatFramer::setEncrypted(bool encrypted)
{
    m_encrypted = encrypted;
    m_discardingLine = false;
    m_afterEnd = false;
    m_scanned = 0;
}

void DirectChatFramer::reset()
{
    *this = DirectChatFramer();
}

qsizetype DirectChatFramer::takeFrame(QByteArrayView rest, QList<DirectChatEvent>& events)
{
    if (mayStartWith(rest, kKeyPrefix))
        return takeControl(rest, events);
    if (!m_encrypted)
        return takeLine(rest, DirectChatEventKind::Text, events);
    if (rest.front() == '\0')
        return takePacket(rest, events);
    return takeLine(rest, DirectChatEventKind::UnsealedText, events);
}

// 0x01 "ENCRYPT END" [0x01]  |  0x01 "ENCRYPT " <16 key bytes> 0x01
qsizetype DirectChatFramer::takeControl(QByteArrayView rest, QList<DirectChatEvent>& events)
{
    if (rest.size() < kKeyPrefix.size())
        return kWait;
    if (mayStartWith(rest, kEndStem)) {
        if (rest.size() < kEndStem.size())
            return kWait;
        if (m_encrypted)
            events.append({DirectChatEventKind::End, {}});
        m_encrypted = false;
        m_afterEnd = true;
        return kEndStem.size();
    }
    if (rest.size() < kKeyMessageLength)
        return kWait;
    if (rest[kKeyMessageLength - 1] != kCtcpMark) {
        fault(rest, events);
        return kWait;
    }
    events.append(
        {DirectChatEventKind::Key, rest.sliced(kKeyPrefix.size(), kChatKeyLength).toByteArray()});
    m_encrypted = true;
    return kKeyMessageLength;
}

// The closing 0x01 of an end message may come in a later read than the rest. A 0x01 that starts
// a new ENCRYPT message is not it.
qsizetype DirectChatFramer::takeEndTail(QByteArrayView rest)
{
    if (rest.front() == kCtcpMark && mayStartWith(rest, kKeyPrefix)) {
        if (rest.size() < kKeyPrefix.size())
            return kWait;
        m_afterEnd = false;
        return 0;
    }
    m_afterEnd = false;
    return rest.front() == kCtcpMark ? 1 : 0;
}

qsizetype DirectChatFramer::takePacket(QByteArrayView rest, QList<DirectChatEvent>& events)
{
    if (rest.size() < kHeader)
        return kWait;
    const quint32 lengthField = readBigEndian(rest);
    if (!isValidPacketLength(lengthField)) {
        fault(rest, events);
        return kWait;
    }
    const qsizetype total = qsizetype(lengthField) + 1;
    if (rest.size() < total)
        return kWait;
    if (rest[total - 1] != kLineEnd) {
        fault(rest, events);
        return kWait;
    }
    events.append({DirectChatEventKind::Packet, rest.first(total).toByteArray()});
    return total;
}

qsizetype DirectChatFramer::takeLine(QByteArrayView rest, DirectChatEventKind kind,
                                     QList<DirectChatEvent>& events)
{
    const qsizetype end = rest.indexOf(kLineEnd, m_scanned);
    if (end < 0) {
        if (rest.size() <= kMaxLineLength) {
            m_scanned = rest.size();
            return kWait;
        }
        events.append({DirectChatEventKind::LineCut, {}});
        m_discardingLine = true;
        return rest.size();
    }
    if (end > kMaxLineLength) {
        events.append({DirectChatEventKind::LineCut, {}});
        return end + 1;
    }
    QByteArrayView line = rest.first(end);
    if (line.endsWith('\r'))
        line.chop(1);
    events.append({kind, line.toByteArray()});
    return end + 1;
}

void DirectChatFramer::fault(QByteArrayView rest, QList<DirectChatEvent>& events)
{
    events.append({DirectChatEventKind::Fault,
                   rest.first(std::min(rest.size(), kFaultExcerpt)).toByteArray()});
    m_faulted = true;
}

} // namespace peer
