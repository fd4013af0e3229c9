#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QVarLengthArray>

#include <optional>

namespace irc {

// One IRCv3 message tag. The key views the line; the value is already unescaped, so it is the
// one part of a message that owns its bytes. A tag sent without '=' has an empty value.
struct Tag
{
    QByteArrayView key;
    QByteArray value;

    friend bool operator==(const Tag& a, const Tag& b)
    {
        return a.key == b.key && a.value == b.value;
    }
    friend bool operator!=(const Tag& a, const Tag& b) { return !(a == b); }
};

// One server line split into its parts:
// [@tags SPACE] [:source SPACE] command [SPACE param]... [SPACE :trailing]
// Every part views the line it was parsed from, which must outlive the message: most lines are
// read and forgotten, and copying their parts out cost more than the rest of their handling.
struct Message
{
    // IRC allows 15 parameters; a longer line still parses, off the stack.
    using Params = QVarLengthArray<QByteArrayView, 16>;

    // Not an aggregate on purpose: value-initialising one would zero the parameters' inline
    // room, a few hundred bytes, for every line.
    Message() {}

    QList<Tag> tags;          // in the order first sent; a repeated key keeps its last value
    QByteArrayView source;    // without its ':'; empty when the line has none
    QByteArrayView command;   // as sent, case untouched: numerics and verbs alike
    Params params;            // the trailing one included, without its ':'
    bool hasTrailing = false; // the last parameter came after " :" (and may hold blanks)
    QByteArrayView line;      // the whole line, for the rules that read it as sent

    // The parameter after " :", the "trailing text" of the rules that read a line.
    std::optional<QByteArrayView> trailing() const
    {
        if (!hasTrailing)
            return std::nullopt;
        return params.back();
    }
    // The parameters before the trailing one.
    qsizetype middleCount() const { return params.size() - (hasTrailing ? 1 : 0); }
    bool hasSource() const { return !source.isNull(); }
    // Where the command word ends in the line.
    qsizetype commandEnd() const { return command.data() - line.data() + command.size(); }

    // The parts, not the way they were spelt: the line and the trailing flag are not compared.
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

// A source split as nick!user@host; the parts that are absent stay empty. Views `source`.
struct UserHost
{
    QByteArrayView nick;
    QByteArrayView user;
    QByteArrayView host;

    friend bool operator==(const UserHost& a, const UserHost& b)
    {
        return a.nick == b.nick && a.user == b.user && a.host == b.host;
    }
    friend bool operator!=(const UserHost& a, const UserHost& b) { return !(a == b); }
};

UserHost splitUserHost(QByteArrayView source);

} // namespace irc
