#pragma once

#include "irc/line_limits.h"

#include <QByteArray>
#include <QList>

#include <optional>
#include <utility>

namespace irc {

// ISON requests for the contacts, each line at most kMaxLineBytes with its CR LF, since servers
// cut longer lines and the contacts past the cut would never show as online.
QList<QByteArray> BuildIsonLines(const QList<QByteArray>& contacts);

// Merges the 303 replies of one poll (one per ISON line) into one online list.
class PresenceMerge
{
public:
    void startPoll(int requestCount);
    // The merged names once the poll's last reply is in; a reply that no poll waits for (typed
    // in the raw data window, say) stands alone.
    std::optional<QList<QByteArray>> takeReply(const QList<QByteArray>& names);

private:
    int m_outstanding = 0;
    QList<QByteArray> m_names;
};

} // namespace irc
