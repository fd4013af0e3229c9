#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace irc {

// How a server folds the case of nicks: which bytes it takes for the same letter.
enum class CaseMapping {
    Ascii,         // A-Z and a-z only
    Rfc1459,       // also [ ] \ ~ as the capitals of { } | ^
    StrictRfc1459, // also [ ] \ as the capitals of { } |, but ~ and ^ differ
};

// What a server told us of itself in its RPL_ISUPPORT (005) lines, for one connection. Until
// it says otherwise, a server is taken to fold nicks as RFC 1459 does and to know no MONITOR.
struct ServerSupport
{
    static constexpr int kNoNickLimit = 0;
    static constexpr int kNoMonitorLimit = 0;

    bool monitor = false;
    // How many targets one client may watch; kNoMonitorLimit when the server set none.
    int monitorLimit = kNoMonitorLimit;
    // The longest nick the server accepts, in bytes; kNoNickLimit when it did not say.
    int nickLen = kNoNickLimit;
    CaseMapping caseMapping = CaseMapping::Rfc1459;

    bool operator==(const ServerSupport& other) const
    {
        return monitor == other.monitor && monitorLimit == other.monitorLimit
               && nickLen == other.nickLen && caseMapping == other.caseMapping;
    }
    bool operator!=(const ServerSupport& other) const { return !(*this == other); }
};

struct Message;

// The tokens of a 005 line: the words after the target nick, up to the trailing text
// (":are supported by this server"). Nothing when the line is not a 005.
QList<QByteArray> isupportTokens(const Message& message);

// Folds tokens into `support`: MONITOR[=limit], NICKLEN=n, CASEMAPPING=name, and their
// "-TOKEN" withdrawals. Tokens we have no use for, and values we cannot read, change nothing.
void applyIsupportTokens(ServerSupport& support, const QList<QByteArray>& tokens);

// The bytes a nick compares by under `mapping`: the same for two nicks the server takes as one.
QByteArray foldNick(QByteArrayView nick, CaseMapping mapping);
bool sameNick(QByteArrayView a, QByteArrayView b, CaseMapping mapping);

// Whether `nick` could be a nick on the server: not empty, no byte that would break a line or
// a list of targets, and within the server's NICKLEN when it gave one.
bool nickFits(QByteArrayView nick, const ServerSupport& support);

} // namespace irc
