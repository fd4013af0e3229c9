#pragma once

#include "irc/isupport.h"
#include "irc/line_limits.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
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

// Where presence comes from on this connection: ISON polls, the server's MONITOR list, or
// nowhere (the server refuses ISON and offers no MONITOR).
enum class PresenceSource { Ison, Monitor, Unknown };

// "MONITOR <op> a,b,c" lines for `names`, each within kMaxLineBytes with its CR LF; a name that
// could not fit a line on its own is left out.
QList<QByteArray> BuildMonitorLines(char op, const QList<QByteArray>& names);

// The nicks of a 730/731/734 target list ("bob!b@host,carol"): the part before any '!'.
QList<QByteArray> monitorTargets(QByteArrayView list);

// The contacts the server watches for us through MONITOR, within its limit; the rest (past the
// limit, or refused with "list full") are the overflow, which is still asked about by ISON.
// Pure: it says which lines to send and keeps what the replies said.
class MonitorWatch
{
public:
    // A fresh list: "MONITOR C", then the contacts that fit the limit.
    QList<QByteArray> begin(const QList<QByteArray>& contacts, const ServerSupport& support);
    // The contacts changed: "MONITOR -" for those gone, "MONITOR +" for the new ones that fit.
    // A contact that leaves makes room for one of the overflow.
    QList<QByteArray> sync(const QList<QByteArray>& contacts);
    // 730 and 731: true when a watched nick was among them.
    bool setOnline(const QList<QByteArray>& targets);
    bool setOffline(const QList<QByteArray>& targets);
    // 734: the server took none of `targets`; they join the overflow, and the list is taken as
    // full at its present size.
    bool listFull(const QList<QByteArray>& targets);

    // The watched contacts online, as the server spelled them.
    QList<QByteArray> onlineNames() const;
    const QList<QByteArray>& watched() const { return m_watched; }
    const QList<QByteArray>& overflow() const { return m_overflow; }

private:
    bool hasRoom() const;
    QByteArray key(QByteArrayView nick) const { return foldNick(nick, m_mapping); }

    CaseMapping m_mapping = CaseMapping::Rfc1459;
    int m_limit = ServerSupport::kNoMonitorLimit;
    // The list's size when the server said it was full, which may be below the advertised limit.
    std::optional<qsizetype> m_fullAt;
    QList<QByteArray> m_watched;
    QList<QByteArray> m_overflow;
    // Folded nick of a watched contact to its spelling in the last 730; absent while offline.
    QHash<QByteArray, QByteArray> m_online;
};

} // namespace irc
