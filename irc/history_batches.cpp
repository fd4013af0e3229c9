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
            m_open.append({name.toByteArray(), message.params.at(2).toByteArray(), {}});
            return {true, std::nullopt};
        }
        if (reference.front() == '-') {
            for (qsizetype i = 0; i < m_open.size(); ++i) {
                if (m_open.at(i).reference == name) {
                    Open done = m_open.takeAt(i);
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
        if (open.lines.size() < kMaxLines) {
            if (std::optional<HistoryLine> line = historyLine(message))
                open.lines.append(std::move(*line));
        }
        return {true, std::nullopt};
    }
    return {};
}

} // namespace irc
