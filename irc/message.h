#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// One IRCv3 message tag. The value is already unescaped; a tag sent without '=' has an empty one.
struct Tag
{
    QByteArray key;
    QByteArray value;

    friend bool operator==(const Tag& a, const Tag& b)
    {
        return a.key == b.key && a.value == b.value;
    }
    friend bool operator!=(const Tag& a, const Tag& b) { return !(a == b); }
};

// One server line split into its parts:
// [@tags SPACE] [:source SPACE] command [SPACE param]... [SPACE :trailing]
struct Message
{
    QList<Tag> tags;          // in the order first sent; a repeated key keeps its last value
    QByteArray source;        // without its ':'; empty when the line has none
    QByteArray command;       // as sent, case untouched: numerics and verbs alike
    QList<QByteArray> params; // the trailing one included, without its ':'

    friend bool operator==(const Message& a, const Message& b)
    {
        return a.tags == b.tags && a.source == b.source && a.command == b.command
               && a.params == b.params;
    }
    friend bool operator!=(const Message& a, const Message& b) { return !(a == b); }
};

// Splits `line` (without its CR LF). Runs of blanks count as one, as servers do send doubled
// and trailing blanks; tabs are not blanks. Nothing when the line holds no command.
std::optional<Message> parseMessage(QByteArrayView line);

// A source split as nick!user@host; the parts that are absent stay empty.
struct UserHost
{
    QByteArray nick;
    QByteArray user;
    QByteArray host;

    friend bool operator==(const UserHost& a, const UserHost& b)
    {
        return a.nick == b.nick && a.user == b.user && a.host == b.host;
    }
    friend bool operator!=(const UserHost& a, const UserHost& b) { return !(a == b); }
};

UserHost splitUserHost(QByteArrayView source);

} // namespace irc
