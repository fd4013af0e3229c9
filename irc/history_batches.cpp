#include "irc/history_batches.h"

namespace irc {

namespace {

bool isHistoryType(QByteArrayView type)
{
    return type == "chathistory" || type == "draft/chathistory";
}

std::optional<QByteArrayView> batchTag(const Message& message)
{
    for (const Tag& tag : message.tags) {
        if (tag.key == "batch")
            return QByteArrayView(tag.value);
    }
    return std::nullopt;
}

} // namespace

HistoryBatches::Taken HistoryBatches::take(const Message& message)
{
    if (message.command == "BATCH" && !message.params.isEmpty()) {
        const QByteArrayView reference = message.params.front();
        if (reference.size() < 2)
            return {};
        const QByteArrayView name = reference.sliced(1);
        if (reference.front() == '+') {
            if (message.params.size() < 3 || !isHistoryType(message.params.at(1)))
                return {};
            if (m_open.size() >= kMaxOpen)
                m_open.removeFirst();
            Open open;
            open.reference = name.toByteArray();
            open.target = message.params.at(2).toByteArray();
            open.wanted = !m_wanted || m_wanted(open.target);
            m_open.append(std::move(open));
            return {true, std::nullopt};
        }
        if (reference.front() == '-') {
            for (qsizetype i = 0; i < m_open.size(); ++i) {
                if (m_open.at(i).reference == name) {
                    Open done = m_open.takeAt(i);
                    if (!done.wanted)
                        return {true, std::nullopt};
                    return {true, Finished{std::move(done.target), std::move(done.lines)}};
                }
            }
        }
        return {};
    }
    const std::optional<QByteArrayView> reference = batchTag(message);
    if (!reference)
        return {};
    for (Open& open : m_open) {
        if (open.reference != *reference)
            continue;
        if (open.wanted && open.lines.size() < kMaxLines) {
            if (std::optional<HistoryLine> line = historyLine(message))
                keep(open, std::move(*line));
        }
        return {true, std::nullopt};
    }
    return {};
}

void HistoryBatches::keep(Open& open, HistoryLine line)
{
    const qsizetype bytes = line.sender.size() + line.text.size() + line.msgId.size();
    // Past the bound the rest is left to the next fetch, which starts after the last line kept.
    if (open.full || open.bytes + bytes > kMaxBytes) {
        open.full = true;
        return;
    }
    open.bytes += bytes;
    open.lines.append(std::move(line));
}

qsizetype HistoryBatches::heldBytes() const
{
    qsizetype bytes = 0;
    for (const Open& open : m_open)
        bytes += open.bytes;
    return bytes;
}

bool HistoryFilter::take(const Message& message)
{
    if (!m_on)
        return false;
    HistoryBatches::Taken taken = m_batches.take(message);
    if (taken.finished && m_finished)
        m_finished(*taken.finished);
    return taken.kept;
}

void HistoryFilter::setCapabilities(Capabilities granted)
{
    // Without batch the server's replay could not be told from new messages.
    m_on = granted.has(Capability::ChatHistory) && granted.has(Capability::Batch)
           && granted.has(Capability::ServerTime);
}

} // namespace irc
