#pragma once

#include "irc/line_limits.h"
#include "irc/message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// Every line the program sends to a server, built in one place. Each factory gives the line
// without its CR LF, or nothing when a part would break it: a CR, LF or NUL anywhere, a target
// or parameter word that is empty, holds a blank or starts with ':', or a line longer than
// kMaxLineContent. A caller that has to cut or split text asks roomForText() first.
class Command
{
public:
    // The bytes of trailing text that fit after "<command> <target> :" (after "<command> :"
    // without a target); negative when not even that head fits.
    static qsizetype roomForText(QByteArrayView command, QByteArrayView target = {});
    // The same for text the server relays to others: it puts ":<nick>!<user>@<host> " before
    // the line, and cuts what then passes 512 bytes. Room is left for `ownNick` and the longest
    // user (10) and host (63) names servers allow.
    static qsizetype roomForRelayedText(QByteArrayView command, QByteArrayView target,
                                        QByteArrayView ownNick);
    // The same inside a CTCP frame: the two 0x01 bytes taken off.
    static qsizetype roomForCtcp(QByteArrayView command, QByteArrayView target);

    // PRIVMSG <target> :<text>   (the text may be empty)
    static std::optional<QByteArray> privmsg(QByteArrayView target, QByteArrayView text);
    // PRIVMSG <target> :\x01<body>\x01   a CTCP query or a DCC offer
    static std::optional<QByteArray> ctcp(QByteArrayView target, QByteArrayView body);
    // NOTICE <target> :<text>
    static std::optional<QByteArray> notice(QByteArrayView target, QByteArrayView text);
    // NOTICE <target> :\x01<body>\x01   the answer to a CTCP query
    static std::optional<QByteArray> ctcpReply(QByteArrayView target, QByteArrayView body);

    // NICK <nick>
    static std::optional<QByteArray> nick(QByteArrayView nick);
    // USER <user> 0 * :<realname>
    static std::optional<QByteArray> user(QByteArrayView user, QByteArrayView realname);
    // PASS <password>: the password goes out as given, the rest of the line to the server, so
    // only line breaks and NUL are refused.
    static std::optional<QByteArray> pass(QByteArrayView password);
    // WHO <mask>
    static std::optional<QByteArray> who(QByteArrayView mask);
    // WHOIS <nick>
    static std::optional<QByteArray> whois(QByteArrayView nick);
    // PONG :<token>
    static std::optional<QByteArray> pong(QByteArrayView token);
    // QUIT, or QUIT :<reason>
    static QByteArray quit();
    static std::optional<QByteArray> quit(QByteArrayView reason);
    // AWAY :<text> (away; an empty text would say back), or AWAY alone (back)
    static std::optional<QByteArray> away(QByteArrayView text);
    static QByteArray back();

    // CAP LS 302, CAP END, CAP REQ :<capabilities>
    static QByteArray capList();
    static QByteArray capEnd();
    static std::optional<QByteArray> capRequest(QByteArrayView capabilities);
    // AUTHENTICATE <word>: a mechanism, a piece of the encoded login, or "+"
    static std::optional<QByteArray> authenticate(QByteArrayView word);

    // "ISON a b c" lines holding every usable name, each within kMaxLineContent; a name that
    // would not fit even alone, or could not stand as a word, is left out.
    static QList<QByteArray> ison(const QList<QByteArray>& names);
    // USERHOST lines of at most five nicks each (the command's own bound); a nick that could not
    // be a word is left out.
    static QList<QByteArray> userhost(const QList<QByteArray>& names);
    // "MONITOR <op> a,b,c" lines in the same way; op is '+' or '-'.
    static QList<QByteArray> monitor(char op, const QList<QByteArray>& names);
    // MONITOR C: empties our list on the server.
    static QByteArray monitorClear();

    // "@k1=v1;k2 <line>": `line` (one of the lines above) with message tags before it, values
    // escaped, a tag with an empty value sent bare. Nothing when there are no tags, a key is not
    // [+][vendor/]name (name of letters, digits and '-'), the tags pass kMaxTagData or the line
    // is not one this class would build.
    static std::optional<QByteArray> tagged(const QList<Tag>& tags, QByteArrayView line);
    // @<tags> TAGMSG <target>   a line of tags alone, such as "@+typing=active"
    static std::optional<QByteArray> tagMsg(QByteArrayView target, const QList<Tag>& tags);

    // CHATHISTORY LATEST <target> <reference> <limit>, the reference being "msgid=<id>",
    // "timestamp=<time>" or "*" (the newest lines, wherever they start).
    static std::optional<QByteArray> chatHistoryLatest(QByteArrayView target,
                                                       QByteArrayView reference, int limit);
    // CHATHISTORY AFTER <target> <reference> <limit>; "*" is refused, as AFTER needs a point.
    static std::optional<QByteArray> chatHistoryAfter(QByteArrayView target,
                                                      QByteArrayView reference, int limit);
};

} // namespace irc
