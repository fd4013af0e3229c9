#pragma once

#include "irc/history_merge.h"
#include "irc/message.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace irc {

// The chathistory batches among the server's lines: what they hold is history to merge, never
// new messages to act on (no window, no away reply, no DCC offer from last week). Lines of any
// other batch are left to the dispatcher.
class HistoryBatches
{
public:
    // A server that opens batches without end cannot grow them without bound.
    static constexpr qsizetype kMaxOpen = 16;
    static constexpr qsizetype kMaxLines = 1000;

    struct Finished
    {
        QByteArray target;
        QList<HistoryLine> lines; // as the server sent them
    };
    struct Taken
    {
        bool kept = false; // the line belongs to a history batch (or opens or ends one)
        std::optional<Finished> finished;
    };
    Taken take(const Message& message);
    // A new connection: batches of the old one never end.
    void clear() { m_open.clear(); }

private:
    struct Open
    {
        QByteArray reference;
        QByteArray target;
        QList<HistoryLine> lines;
    };
    QList<Open> m_open;
};

} // namespace irc
