#pragma once

#include "irc/reconnect_backoff.h"

#include <QDateTime>

#include <optional>

namespace irc {

// The pass over the stored server list: which entry is tried next, and what happens when the
// pass has tried them all. A pass that follows a lost link goes on from the next entry at once,
// around the end of the list, until every entry has failed once (the one that dropped us
// counts); then it starts again from the top after a back-off wait, until a server lets us on. One the user started runs to the list's end and
// simply ends. Pure: the clock comes in, and so does the length of the list.
class ServerRotation
{
public:
    int index() const { return m_index; }
    void setIndex(int index) { m_index = index; }
    bool recovering() const { return m_recovering; }

    // The entry to try in a list of `count`; nothing once the pass has run past its end.
    std::optional<int> current(int count) const;

    // The user takes over (starts a pass, ends the link, turns reconnection off): no pass
    // starts again by itself.
    void userTakesOver() { m_recovering = false; }
    // The entry failed (look-up, connection, handshake, registration): the next one of a list of
    // `count` is tried.
    void attemptFailed(int count);
    // An established link dropped: the next entry of a list of `count` is tried, and the pass
    // starts again if it ends without a server letting us on.
    void linkLost(int count);
    // A server let us on: the next outage starts again from the shortest wait.
    void welcomed();
    // The user or a changed certificate ends the pass for good, back at the top of the list.
    void stop();

    // The pass has run past the list's end: back to its top. True when it starts again by
    // itself, which a pass after a lost link does while `reconnect` is set.
    bool passEnded(bool reconnect);

    // When the next pass starts: `jitter` (-1..1) picks where in the spread of the wait it falls.
    struct Retry
    {
        qint64 waitMs = 0;
        QDateTime at;
    };
    Retry nextRetry(const QDateTime& now, double jitter);

private:
    int m_index = 0;
    bool m_recovering = false;
    // The entries a pass after a lost link has tried; it ends when all have failed.
    int m_tried = 0;
    ReconnectBackoff m_backoff;
};

} // namespace irc
