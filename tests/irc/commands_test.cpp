#include "irc/commands.h"
#include "irc/presence.h"

#include <gtest/gtest.h>

#include <functional>

using irc::Command;

namespace {

struct LineCase
{
    const char* name;
    std::function<std::optional<QByteArray>()> build;
    std::optional<QByteArray> expected;
};

const QByteArray k400(400, 'x');

} // namespace

TEST(Command, BuildsEachLineOrRefusesIt)
{
    const std::optional<QByteArray> refused;
    const LineCase cases[] = {
        {"privmsg", [] { return Command::privmsg("bob", "hi there"); }, "PRIVMSG bob :hi there"},
        {"privmsg, empty text", [] { return Command::privmsg("bob", ""); }, "PRIVMSG bob :"},
        {"privmsg, text with ':'", [] { return Command::privmsg("bob", ":)"); }, "PRIVMSG bob ::)"},
        {"privmsg, CR in text", [] { return Command::privmsg("bob", "a\rQUIT"); }, refused},
        {"privmsg, LF in text", [] { return Command::privmsg("bob", "a\nQUIT"); }, refused},
        {"privmsg, NUL in text", [] { return Command::privmsg("bob", QByteArrayView("a\0b", 3)); },
         refused},
        {"privmsg, blank in target", [] { return Command::privmsg("bob x", "hi"); }, refused},
        {"privmsg, ':' target", [] { return Command::privmsg(":bob", "hi"); }, refused},
        {"privmsg, empty target", [] { return Command::privmsg("", "hi"); }, refused},
        {"ctcp", [] { return Command::ctcp("bob", "VERSION"); }, "PRIVMSG bob :\x01VERSION\x01"},
        {"ctcp, LF in body", [] { return Command::ctcp("bob", "PING 1\n"); }, refused},
        {"notice", [] { return Command::notice("bob", "hi"); }, "NOTICE bob :hi"},
        {"ctcp reply", [] { return Command::ctcpReply("bob", "TIME now"); },
         "NOTICE bob :\x01TIME now\x01"},
        {"ctcp reply, CR in body", [] { return Command::ctcpReply("bob", "TIME\r"); }, refused},
        {"nick", [] { return Command::nick("alice"); }, "NICK alice"},
        {"nick, empty", [] { return Command::nick(""); }, refused},
        {"nick, blank", [] { return Command::nick("al ice"); }, refused},
        {"user", [] { return Command::user("alice", "Alice Smith"); },
         "USER alice 0 * :Alice Smith"},
        {"user, LF in real name", [] { return Command::user("alice", "A\nQUIT"); }, refused},
        {"pass", [] { return Command::pass("s3cret"); }, "PASS s3cret"},
        // The password is the rest of the line to the server, and goes as the user gave it.
        {"pass, leading ':'", [] { return Command::pass(":s3 cret"); }, "PASS :s3 cret"},
        {"pass, CR", [] { return Command::pass("s3\rcret"); }, refused},
        {"who", [] { return Command::who("alice"); }, "WHO alice"},
        {"who, blank", [] { return Command::who("al ice"); }, refused},
        {"whois", [] { return Command::whois("bob"); }, "WHOIS bob"},
        {"pong", [] { return Command::pong("irc.example"); }, "PONG :irc.example"},
        {"pong, NUL", [] { return Command::pong(QByteArrayView("a\0b", 3)); }, refused},
        {"quit with reason", [] { return Command::quit("Kivvo is closing..."); },
         "QUIT :Kivvo is closing..."},
        {"quit, LF", [] { return Command::quit("bye\n"); }, refused},
        {"cap request", [] { return Command::capRequest("sasl"); }, "CAP REQ :sasl"},
        {"authenticate", [] { return Command::authenticate("PLAIN"); }, "AUTHENTICATE PLAIN"},
        {"authenticate +", [] { return Command::authenticate("+"); }, "AUTHENTICATE +"},
        {"authenticate, blank", [] { return Command::authenticate("a b"); }, refused},
    };
    for (const LineCase& c : cases)
        EXPECT_EQ(c.build(), c.expected) << c.name;
    EXPECT_EQ(Command::quit(), "QUIT");
    EXPECT_EQ(Command::capList(), "CAP LS 302");
    EXPECT_EQ(Command::capEnd(), "CAP END");
    EXPECT_EQ(Command::monitorClear(), "MONITOR C");
}

TEST(Command, RefusesALineOverTheLimitAndSaysWhatFits)
{
    // "PRIVMSG bob :" takes 13 of the 510 bytes.
    EXPECT_EQ(Command::roomForText("PRIVMSG", "bob"), 497);
    EXPECT_EQ(Command::roomForCtcp("NOTICE", "bob"), 510 - 12 - 2);
    EXPECT_EQ(Command::roomForText("PONG"), 504);
    const QByteArray fits(497, 'a');
    EXPECT_EQ(Command::privmsg("bob", fits)->size(), 510);
    EXPECT_FALSE(Command::privmsg("bob", fits + 'a'));
    EXPECT_FALSE(Command::ctcp("bob", QByteArray(496, 'a')));
    EXPECT_TRUE(Command::ctcp("bob", QByteArray(495, 'a')));
    EXPECT_FALSE(Command::pong(QByteArray(505, 'a')));
    EXPECT_FALSE(Command::nick(QByteArray(506, 'a')));
    // A nick too long to leave any room: not even an empty text fits.
    const QByteArray longNick(501, 'n');
    EXPECT_LT(Command::roomForText("PRIVMSG", longNick), 0);
    EXPECT_FALSE(Command::privmsg(longNick, ""));
}

TEST(Command, PacksNamesIntoListLinesWithinTheLimit)
{
    EXPECT_EQ(Command::ison({"alice", "bob"}), QList<QByteArray>{"ISON alice bob"});
    EXPECT_EQ(Command::monitor('+', {"alice", "bob"}), QList<QByteArray>{"MONITOR + alice,bob"});
    EXPECT_EQ(Command::monitor('-', {"carol"}), QList<QByteArray>{"MONITOR - carol"});
    EXPECT_TRUE(Command::ison({}).isEmpty());
    EXPECT_TRUE(Command::monitor('C', {"alice"}).isEmpty());
    // Names that would move the other words, or end the line, are left out; the rest go.
    EXPECT_EQ(Command::ison({"al ice", ":bob", "", "ca\r\nrol", "dave"}),
              QList<QByteArray>{"ISON dave"});
    // Two 400-byte names never share a line; one longer than a whole line is left out.
    EXPECT_EQ(Command::ison({k400, k400, QByteArray(506, 'y')}),
              (QList<QByteArray>{"ISON " + k400, "ISON " + k400}));
    const QByteArray exact(505, 'z'); // "ISON " + 505 bytes = 510
    EXPECT_EQ(Command::ison({exact}), QList<QByteArray>{"ISON " + exact});

    // Many names: several lines, each within the limit, every name once and in order.
    QList<QByteArray> names;
    for (int i = 0; i < 256; ++i)
        names << "contact" + QByteArray::number(i).rightJustified(23, '0');
    const struct
    {
        QList<QByteArray> lines;
        QByteArray head;
        char separator;
    } packed[] = {{irc::BuildIsonLines(names), "ISON ", ' '},
                  {irc::BuildMonitorLines('+', names), "MONITOR + ", ','}};
    for (const auto& p : packed) {
        SCOPED_TRACE(p.head.toStdString());
        ASSERT_GT(p.lines.size(), 1);
        QList<QByteArray> named;
        for (const QByteArray& line : p.lines) {
            EXPECT_LE(line.size() + 2, irc::kMaxLineBytes);
            ASSERT_TRUE(line.startsWith(p.head));
            named += line.mid(p.head.size()).split(p.separator);
        }
        EXPECT_EQ(named, names);
    }
}
