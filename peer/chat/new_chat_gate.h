#pragma once

#include "peer/common/session_record.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <optional>
#include <vector>

namespace peer {

// Bounds the chat windows that people outside the contact list can open by writing to us: at
// most kMaxWindows in any kWindowMs, so that a crowd of strangers cannot bury the screen in
// windows. Whoever writes beyond that is held, their lines kept (bounded) until the user opens
// them. Pure: fed a monotonic clock in milliseconds.
class NewChatGate
{
public:
    static constexpr int kMaxWindows = 10;
    static constexpr qint64 kWindowMs = 60000;
    static constexpr int kMaxHeldSenders = 100;
    // Per sender; the oldest go first.
    static constexpr int kMaxHeldLines = 50;

    struct HeldLine
    {
        QByteArray text;
        bool awayEcho = false;    // our away reply to them, shown as our own line
        bool unprotected = false; // came in clear during an encrypted chat

        bool operator==(const HeldLine& other) const
        {
            return text == other.text && awayEcho == other.awayEcho
                   && unprotected == other.unprotected;
        }
    };

    enum class Verdict {
        Open,         // a new window may come up
        Held,         // kept for the user to open
        DroppedFirst, // no room to keep them: the caller notes it once
        Dropped,
    };

    // How the server compares nicks; exactly when empty.
    void setNickComparison(NickComparison same) { m_same = std::move(same); }

    // `nick`, who has no open chat and is not a contact, wrote `lines`.
    Verdict arrive(const QByteArray& nick, const std::vector<HeldLine>& lines, qint64 nowMs);
    // The held senders, in the order they first wrote.
    QList<QByteArray> heldNicks() const;
    int heldCount() const { return int(m_held.size()); }
    // Takes out what was kept for `nick` (nothing when they are not held).
    std::vector<HeldLine> release(const QByteArray& nick);
    // Where the first held line of `nick` went in their log, and that place once known.
    std::optional<qint64> logStart(const QByteArray& nick);
    void setLogStart(const QByteArray& nick, qint64 offset);
    void clear();

private:
    struct Held
    {
        QByteArray nick;
        std::deque<HeldLine> lines;
        std::optional<qint64> logStart;
    };

    std::vector<Held>::iterator find(const QByteArray& nick);

    std::deque<qint64> m_openedAt;
    std::vector<Held> m_held;
    NickComparison m_same;
    bool m_dropNoted = false;
};

} // namespace peer
