#include "irc/commands.h"
#include "irc/message.h"
#include "irc/typing.h"

#include <gtest/gtest.h>

#include <map>
#include <rapidcheck/gtest.h>
#include <string>

namespace {

using irc::Command;
using irc::Tag;

std::map<QByteArray, QByteArray> tagMap(const QList<Tag>& tags)
{
    std::map<QByteArray, QByteArray> map;
    for (const Tag& tag : tags)
        map[tag.key.toByteArray()] = tag.value;
    return map;
}

// Unescaping lives in the parser; these hold it to the message-tags rules as read back.
TEST(TagValues, AreUnescapedByTheParser)
{
    struct Case
    {
        const char* raw;
        QByteArray value;
    };
    const Case cases[] = {
        {"a\\:b", "a;b"},  {"a\\sb", "a b"}, {"a\\\\b", "a\\b"}, {"a\\rb", "a\rb"},
        {"a\\nb", "a\nb"}, {"ab\\", "ab"}, // a lone trailing backslash is dropped
        {"a\\bc", "abc"},                  // an unknown escape drops the backslash
        {"\\\\\\", "\\"},  {"\\", ""},       {"\\\\s", "\\s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        const QByteArray line = QByteArray("@k=") + c.raw + " TAGMSG #c";
        const std::optional<irc::Message> message = irc::parseMessage(line);
        ASSERT_TRUE(message);
        ASSERT_EQ(message->tags.size(), 1);
        EXPECT_EQ(message->tags.front().value, c.value);
    }
}

TEST(TagMsg, BuildsTheTypingLine)
{
    EXPECT_EQ(Command::tagMsg("#kivvo", {irc::typingTag(irc::TypingState::Active)}),
              "@+typing=active TAGMSG #kivvo");
    EXPECT_EQ(Command::tagMsg("bob", {irc::typingTag(irc::TypingState::Done)}),
              "@+typing=done TAGMSG bob");
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+typing", "paused"}, Tag{"label", "7"}}),
              "@+typing=paused;label=7 TAGMSG bob");
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+draft/react", ""}}), "@+draft/react TAGMSG bob");
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+example.com/x-y", "v"}}),
              "@+example.com/x-y=v TAGMSG bob");
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+a", "x; y\\z\r\n"}}),
              "@+a=x\\:\\sy\\\\z\\r\\n TAGMSG bob");
}

// Whatever a value holds, it reads back as it was written, beside the tag after it, and the line
// stays one line.
RC_GTEST_PROP(TagMsg, EveryValueReadsBackAsWritten, ())
{
    const QByteArray value =
        QByteArray::fromStdString(*rc::gen::container<std::string>(rc::gen::arbitrary<char>()))
            .replace('\0', "");
    const std::optional<QByteArray> line =
        Command::tagMsg("bob", {Tag{"+Example9.com/a-B", value}, Tag{"label", "7"}});
    RC_ASSERT(line.has_value());
    RC_ASSERT(!line->contains('\r') && !line->contains('\n'));
    const std::optional<irc::Message> message = irc::parseMessage(*line);
    RC_ASSERT(message.has_value());
    RC_ASSERT(message->command == "TAGMSG");
    RC_ASSERT(message->params.size() == 1 && message->params.front() == "bob");
    RC_ASSERT(tagMap(message->tags)
              == (std::map<QByteArray, QByteArray>{{"+Example9.com/a-B", value}, {"label", "7"}}));
}

TEST(TagMsg, RefusesWhatWouldBreakTheLine)
{
    struct Case
    {
        const char* name;
        QByteArray target;
        QByteArray key;
        QByteArray value;
    };
    const Case cases[] = {
        {"empty key", "bob", "", "v"},
        {"prefix alone", "bob", "+", "v"},
        {"blank in key", "bob", "+ty ping", "v"},
        {"CR in key", "bob", "+ty\rping", "v"},
        {"LF in key", "bob", "+ty\nping", "v"},
        {"NUL in key", "bob", QByteArray("+ty\0ping", 8), "v"},
        {"equals in key", "bob", "+a=b", "v"},
        {"semicolon in key", "bob", "+a;b", "v"},
        {"empty vendor", "bob", "+/a", "v"},
        {"empty name", "bob", "+vendor/", "v"},
        {"underscore", "bob", "+a_b", "v"},
        {"NUL in value", "bob", "+a", QByteArray("x\0y", 3)},
        {"empty target", "", "+a", "v"},
        {"blank in target", "b ob", "+a", "v"},
        {"colon target", ":bob", "+a", "v"},
        {"LF in target", "bob\n", "+a", "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Command::tagMsg(c.target, {Tag{c.key, c.value}}), std::nullopt);
    }
    EXPECT_EQ(Command::tagMsg("bob", {}), std::nullopt);
}

TEST(TagMsg, KeepsTheTagsWithinTheClientLimit)
{
    // "+a=" and the value: 4094 bytes exactly fit, one more does not.
    const QByteArray fits(4094 - 3, 'x');
    const std::optional<QByteArray> line = Command::tagMsg("bob", {Tag{"+a", fits}});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->indexOf(' '), 1 + 4094);
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+a", fits + 'x'}}), std::nullopt);
    // Escaping counts: "+a=" and 2045 escaped semicolons are 4093 bytes, 2046 are 4095.
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+a", QByteArray(2045, ';')}}).has_value(), true);
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+a", QByteArray(2046, ';')}}), std::nullopt);
    EXPECT_EQ(Command::tagMsg("bob", {Tag{"+a", QByteArray(10'000'000, 'x')}}), std::nullopt);
    QList<Tag> many;
    for (int i = 0; i < 2000; ++i)
        many.append(Tag{"+a", "b"});
    EXPECT_EQ(Command::tagMsg("bob", many), std::nullopt);
}

TEST(Tagged, KeepsTheRestOfTheLineWithinItsOwnLimit)
{
    const QByteArray target(510 - 7, 'b'); // "TAGMSG " + target is 510 bytes
    EXPECT_TRUE(Command::tagMsg(target, {Tag{"+a", "b"}}));
    EXPECT_EQ(Command::tagMsg(target + 'b', {Tag{"+a", "b"}}), std::nullopt);
    const QByteArray privmsg = *Command::privmsg("#c", QByteArray(498, 'x')); // 510 bytes
    EXPECT_EQ(Command::tagged({Tag{"label", "1"}}, privmsg), "@label=1 " + privmsg);
    EXPECT_EQ(Command::tagged({Tag{"label", "1"}}, privmsg + QByteArray(100, 'x')), std::nullopt);
    EXPECT_EQ(Command::tagged({Tag{"label", "1"}}, "@x=y PING a"), std::nullopt);
    EXPECT_EQ(Command::tagged({Tag{"label", "1"}}, "PING a\r\nQUIT"), std::nullopt);
    EXPECT_EQ(Command::tagged({Tag{"label", "1"}}, ""), std::nullopt);
}

TEST(ChatHistory, BuildsLatestAndAfter)
{
    EXPECT_EQ(Command::chatHistoryLatest("#c", "*", 100), "CHATHISTORY LATEST #c * 100");
    EXPECT_EQ(Command::chatHistoryLatest("#c", "msgid=abc", 50),
              "CHATHISTORY LATEST #c msgid=abc 50");
    EXPECT_EQ(Command::chatHistoryAfter("bob", "timestamp=2011-10-19T16:40:51.620Z", 10),
              "CHATHISTORY AFTER bob timestamp=2011-10-19T16:40:51.620Z 10");
    EXPECT_EQ(Command::chatHistoryAfter("bob", "*", 10), std::nullopt);
    EXPECT_EQ(Command::chatHistoryLatest("bob", "*", 0), std::nullopt);
    EXPECT_EQ(Command::chatHistoryLatest("bob", "*", -1), std::nullopt);
    EXPECT_EQ(Command::chatHistoryLatest("", "*", 10), std::nullopt);
    EXPECT_EQ(Command::chatHistoryLatest("bob", "msgid=a b", 10), std::nullopt);
    EXPECT_EQ(Command::chatHistoryLatest("bob", "msgid=a\r\nQUIT", 10), std::nullopt);
    EXPECT_EQ(Command::chatHistoryLatest("bob", "", 10), std::nullopt);
    EXPECT_EQ(Command::chatHistoryLatest("bob", "msgid=" + QByteArray(600, 'a'), 10), std::nullopt);
}

} // namespace
