#pragma once

#include "irc/history_merge.h"
#include "irc/line_filter.h"
#include "irc/message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <functional>
#include <optional>

namespace irc {

// The chathistory batches among the server's lines: what they hold is history to merge, never
// new messages to act on (no window, no away reply, no DCC offer from last week). Lines of any
// other batch are left to the dispatcher. Only a batch for a conversation we asked for is kept,
// and only up to a bound in lines and in bytes; the lines of any other are taken out and
// dropped as they come, so that a server cannot make us hold what we never asked for.
class HistoryBatches
{
public:
    // A server that opens batches without end cannot grow them without bound.
    static constexpr qsizetype kMaxOpen = 16;
    static constexpr qsizetype kMaxLines = 1000;
    // Per batch, the sender, text and msgid of its lines together: a hundred long lines fit.
    static constexpr qsizetype kMaxBytes = 256 * 1024;

    // Whether the conversation with `target` was asked for; every batch is, without one.
    using Wanted = std::function<bool(const QByteArray& target)>;
    void setWanted(Wanted wanted) { m_wanted = std::move(wanted); }

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
    // What the open batches hold, in bytes as they count against kMaxBytes.
    qsizetype heldBytes() const;

private:
    struct Open
    {
        QByteArray reference;
        QByteArray target;
        bool wanted = true;
        qsizetype bytes = 0;
        bool full = false; // a line was left out: none after it may be kept
        QList<HistoryLine> lines;
    };
    static void keep(Open& open, HistoryLine line);

    QList<Open> m_open;
    Wanted m_wanted;
};

// The history batches taken out of the received lines while the server keeps history
// (chathistory, with batch and server-time to tell its replay from new messages); any other line
// passes untouched, without a call beyond this filter.
class HistoryFilter : public LineFilter
{
public:
    using Finished = std::function<void(const HistoryBatches::Finished& batch)>;
    explicit HistoryFilter(Finished finished)
        : m_finished(std::move(finished))
    {}

    HistoryBatches& batches() { return m_batches; }
    bool isOn() const { return m_on; }

    bool take(const Message& message) override;
    void setCapabilities(Capabilities granted) override;

private:
    HistoryBatches m_batches;
    Finished m_finished;
    bool m_on = false;
};

} // namespace irc
