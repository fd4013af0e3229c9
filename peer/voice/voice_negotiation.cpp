#include "peer/voice/voice_negotiation.h"

#include <algorithm>

namespace peer {

namespace {

enum class Match { Partial, Whole, No };

// Whether `head` opens with `word`, may still become it, or never will.
Match match(const QByteArray& head, QByteArrayView word)
{
    const qsizetype compared = std::min(head.size(), word.size());
    if (QByteArrayView(head).first(compared) != word.first(compared))
        return Match::No;
    return head.size() >= word.size() ? Match::Whole : Match::Partial;
}

QByteArrayView word(const char (&text)[kVoiceOpusWordBytes + 1])
{
    return QByteArrayView(text, kVoiceOpusWordBytes);
}

} // namespace

VoiceNegotiation::VoiceNegotiation(Side side, bool opus)
    : m_side(side)
    , m_opus(opus)
{}

VoiceNegotiation::Step VoiceNegotiation::connected(qint64 nowMs)
{
    if (m_stage != Stage::Idle)
        return {};
    if (!m_opus) {
        m_stage = Stage::Done;
        m_codec = VoiceCodec::Plain;
        return {};
    }
    if (m_side == Side::Playback) {
        // A plain capturer must never hear from us before it has sent: we only answer.
        m_stage = Stage::AwaitOffer;
        return {};
    }
    m_stage = Stage::AwaitAccept;
    m_deadlineMs = nowMs + kVoiceOpusAnswerWaitMs;
    return {word(kVoiceOpusOffer).toByteArray(), {}};
}

VoiceNegotiation::Step VoiceNegotiation::received(QByteArrayView bytes, qint64 nowMs)
{
    if (m_stage == Stage::Idle || m_stage == Stage::Done)
        return {{}, bytes.toByteArray()};
    // An answer read after the wait ended is judged as late, whatever order the events came in.
    elapsed(nowMs);
    m_head.append(bytes);
    return receivedOnce();
}

VoiceNegotiation::Step VoiceNegotiation::receivedOnce()
{
    QByteArray sent;
    while (true) {
        const bool awaitsOffer = m_stage == Stage::AwaitOffer;
        const bool awaitsConfirm = m_stage == Stage::AwaitConfirm;
        const QByteArrayView expected = awaitsOffer     ? word(kVoiceOpusOffer)
                                        : awaitsConfirm ? word(kVoiceOpusConfirm)
                                                        : word(kVoiceOpusAccept);
        const Match result = match(m_head, expected);
        if (result == Match::Partial)
            return {sent, {}};
        const bool whole = result == Match::Whole;
        switch (m_stage) {
        case Stage::AwaitOffer:
            if (!whole)
                return finish(VoiceCodec::Plain, 0, sent);
            sent += word(kVoiceOpusAccept).toByteArray();
            m_head.remove(0, kVoiceOpusWordBytes);
            m_stage = Stage::AwaitConfirm;
            continue;
        case Stage::AwaitConfirm:
            return whole ? finish(VoiceCodec::Opus, kVoiceOpusWordBytes, sent)
                         : finish(VoiceCodec::Plain, 0, sent);
        case Stage::AwaitAccept:
            return whole ? finish(VoiceCodec::Opus, kVoiceOpusWordBytes,
                                  word(kVoiceOpusConfirm).toByteArray())
                         : finish(VoiceCodec::Plain, 0);
        case Stage::DropLateAccept:
            // The samples already went: an accept now is answered by nothing.
            return finish(VoiceCodec::Plain, whole ? kVoiceOpusWordBytes : 0);
        case Stage::Idle:
        case Stage::Done:
            break;
        }
        return {sent, {}};
    }
}

VoiceNegotiation::Step VoiceNegotiation::finish(VoiceCodec codec, qsizetype consumed,
                                                const QByteArray& send)
{
    Step step{send, m_head.mid(consumed)};
    m_head.clear();
    m_stage = Stage::Done;
    m_codec = codec;
    return step;
}

void VoiceNegotiation::elapsed(qint64 nowMs)
{
    if (m_stage != Stage::AwaitAccept || nowMs < m_deadlineMs)
        return;
    m_stage = Stage::DropLateAccept;
    m_codec = VoiceCodec::Plain;
    m_timedOut = true;
}

std::optional<qint64> VoiceNegotiation::deadline() const
{
    if (m_stage == Stage::AwaitAccept)
        return m_deadlineMs;
    return std::nullopt;
}

} // namespace peer
