#include "irc/message_dispatcher.h"

#include <QStringList>
#include <gtest/gtest.h>

using irc::MessageDispatcher;

namespace {

// Records every event and every request of the dispatcher as one readable line.
class Recorder
{
public:
    explicit Recorder(irc::ServerEvents& events)
    {
        using E = irc::ServerEvents;
        QObject::connect(&events, &E::ctcpReply, [this](QByteArrayView sender, const irc::Ctcp& c) {
            log << "notice " + sender.toByteArray() + " " + c.text.toByteArray();
        });
        QObject::connect(&events, &E::ctcpQuery, [this](QByteArrayView sender, const irc::Ctcp& c) {
            log << "ctcp " + sender.toByteArray() + " " + c.text.toByteArray();
        });
        QObject::connect(&events, &E::dccOffer, [this](const irc::DccOffer& offer) {
            const char* names[] = {"SEND", "CHAT", "VOICE"};
            log << QByteArray("dcc ") + names[int(offer.kind)] + " " + offer.sender + " ["
                       + offer.fileName + "] "
                       + (offer.address.protocol() == QAbstractSocket::IPv6Protocol
                              ? offer.address.toString().toLatin1()
                              : QByteArray::number(offer.address.toIPv4Address()))
                       + " " + QByteArray::number(offer.port) + " " + QByteArray::number(offer.size)
                       + (offer.secure ? " secure" : "")
                       + (offer.token.isEmpty() ? QByteArray() : " token " + offer.token);
        });
        QObject::connect(&events, &E::dccResume, [this](const irc::DccResume& resume) {
            log << QByteArray("resume ")
                       + (resume.kind == irc::DccResumeKind::Resume ? "RESUME " : "ACCEPT ")
                       + resume.sender + " [" + resume.fileName + "] "
                       + QByteArray::number(resume.port) + " "
                       + (resume.position ? QByteArray::number(*resume.position) : "none")
                       + (resume.token.isEmpty() ? QByteArray() : " token " + resume.token);
        });
        QObject::connect(&events, &E::privateText, [this](const irc::PrivateText& t) {
            log << "text " + t.sender.toByteArray()
                       + (t.text ? " [" + t.text->toByteArray() + "]" : QByteArray(" none"))
                       + (t.awayEcho ? " away[" + *t.awayEcho + "]" : QByteArray());
        });
        QObject::connect(&events, &E::onlineNames, [this](const irc::NameViews& names) {
            QByteArray joined;
            for (const QByteArrayView name : names)
                joined += (joined.isEmpty() ? "" : ",") + name.toByteArray();
            log << "online " + joined;
        });
        QObject::connect(&events, &E::serverSupport, [this](const QList<QByteArray>& tokens) {
            log << "005 " + tokens.join(' ');
        });
        QObject::connect(&events, &E::monitorOnline, [this](const QList<QByteArray>& nicks) {
            log << "730 " + nicks.join(',');
        });
        QObject::connect(&events, &E::monitorOffline, [this](const QList<QByteArray>& nicks) {
            log << "731 " + nicks.join(',');
        });
        QObject::connect(&events, &E::monitorListFull, [this](const QList<QByteArray>& nicks) {
            log << "734 " + nicks.join(',');
        });
        QObject::connect(&events, &E::commandRefused,
                         [this](const QByteArray& command) { log << "421 " + command; });
        QObject::connect(&events, &E::whois, [this](const irc::Message& message) {
            log << "whois " + irc::whoisText(message.params);
        });
        QObject::connect(&events, &E::ownHost,
                         [this](QByteArrayView host) { log << "host " + host.toByteArray(); });
        QObject::connect(&events, &E::awayChanged,
                         [this](const QByteArray& nick, const std::optional<QByteArray>& text) {
                             log << "away " + nick + (text ? " [" + *text + "]" : "");
                         });
        QObject::connect(&events, &E::ownLineEchoed, [this](const irc::Message& message) {
            log << "echo " + message.command.toByteArray();
        });
    }

    irc::LineServices services()
    {
        return {[this] { return nick; },
                [this](const QByteArray& line) {
                    log << "send " + line;
                    return sendWorks;
                },
                [this] { return now; }, [] { return QByteArray("myhost"); },
                [this](const QString& text) { log << "log " + text.toUtf8(); }};
    }

    QByteArray nick = "alice";
    qint64 now = 1000;
    bool sendWorks = true;
    QList<QByteArray> log;
};

class MessageDispatcherTest : public ::testing::Test
{
protected:
    MessageDispatcherTest() { settings.nick = "alice"; }

    // What the dispatcher did for this one line.
    QList<QByteArray> handle(const QByteArray& line)
    {
        actions.log.clear();
        dispatcher.setSettings(settings); // as the program announces a change
        if (const std::optional<irc::Message> message = irc::parseMessage(line))
            dispatcher.HandleServerLine(*message);
        return actions.log;
    }

    irc::ServerEvents events;
    Recorder actions{events};
    config::Settings settings;
    MessageDispatcher dispatcher{settings, events, actions.services()};
};

} // namespace

TEST_F(MessageDispatcherTest, ActsOnRealServerLines)
{
    const struct
    {
        const char* line;
        QList<QByteArray> actions;
    } cases[] = {
        {"PING :irc.kivvo.local", {"send PONG :irc.kivvo.local"}},
        {"PING token123", {"send PONG :token123"}},
        {"PING", {}}, // no command word: nothing matches
        {"PING ", {"send PONG :myhost"}},
        {":irc.x NOTICE alice :\001VERSION x 1.0\001", {"notice irc.x \001VERSION x 1.0\001"}},
        {":irc.x NOTICE alice", {}},
        {":bob!~b@host PRIVMSG alice :hello there", {"text bob [hello there]"}},
        {":bob!~b@host PRIVMSG alice", {"text bob none"}},
        {":bob!~b@host PRIVMSG alice :", {"text bob []"}},
        {":bob PRIVMSG alice :no user part", {"text bob [no user part]"}},
        {":averyveryverylongnick!u@h PRIVMSG alice :hi", {"text averyveryverylongnick [hi]"}},
        {":bob!b@h PRIVMSG #chan :to a channel", {"text bob [to a channel]"}},
        {":bob!b@h PRIVMSG alice :\001VERSION\001", {"ctcp bob \001VERSION\001"}},
        {":bob!b@h PRIVMSG alice :\001ACTION waves\001", {"text bob [\001ACTION waves\001]"}},
        {":bob!b@h PRIVMSG alice :\001DCC SEND f.txt 2130706433 2000 5\001",
         {"dcc SEND bob [f.txt] 2130706433 2000 5"}},
        {":bob!b@h PRIVMSG alice :\001DCC CHAT chat 2130706433 2001\001",
         {"dcc CHAT bob [] 2130706433 2001 0"}},
        {":bob!b@h PRIVMSG alice :\001DCC VOICE 2130706433 2002\001",
         {"dcc VOICE bob [] 2130706433 2002 0"}},
        {":bob!b@h PRIVMSG alice :\001DCC CHAT chat 2130706433\001",
         {"log DCC offer dropped: a field is missing"}},
        // The type word comes from the CTCP text, never from a nick that holds "DCC".
        {":DCCbot!b@h PRIVMSG alice :\001DCC SEND f.txt 2130706433 2000 5\001",
         {"dcc SEND DCCbot [f.txt] 2130706433 2000 5"}},
        {":xDCC!b@h PRIVMSG alice :\001DCC CHAT chat 2130706433 2001\001",
         {"dcc CHAT xDCC [] 2130706433 2001 0"}},
        {":irc.x 303 alice :bob  carol ", {"online bob,carol"}},
        {":irc.x 303 alice :", {"online "}},
        {":irc.x 303 alice", {}},
        {":irc.x 352 alice * ~alice 127.0.0.1 irc.x alice H :0 Alice", {"host 127.0.0.1"}},
        {":irc.x 352 alice #c ~alice 10.0.0.1 irc.x alice H :0 Alice", {}},
        {":irc.x 352 bob * ~bob 10.0.0.1 irc.x bob H :0 Bob", {}},
        {":irc.x 001 alice :Welcome", {}},
        {":irc.x", {}},
        {":", {}},
        {"", {}},
        {":irc.x NOTICE", {}},
        {"ERROR :Closing link", {}},
        // The command word is the first word, or the second right after the source; tags, a
        // leading blank or a doubled one before it leave the line without one.
        {"@time=2024-01-01T00:00:00Z :bob!b@h PRIVMSG alice :hi", {}},
        {" PING :x", {}},
        {":irc.x  PING :x", {}},
        {":irc.x PING :x", {"send PONG :x"}},
        {"privmsg alice :hi", {}},
        {":bob!b@h PRIVMSG  alice :two blanks", {"text bob [two blanks]"}},
        {":bob!b@h PRIVMSG alice hi there", {"text bob none"}},
        // Without a source the sender is the word right after the command.
        {"PRIVMSG bob :no source", {"text bob [no source]"}},
        {"PRIVMSG  bob :doubled", {}},
        {":irc.x NOTICE alice :plain notice", {}},
        {":bob!b@h PRIVMSG alice :\001PING 42\001", {"ctcp bob \001PING 42\001"}},
        {":bob!b@h PRIVMSG alice :\001DCC RESUMEX f 1 2\001", {"text bob [\001DCC RESUMEX f 1 2]"}},
        {":bob!b@h PRIVMSG alice :\001DCC FOO bar\001", {"text bob [\001DCC FOO bar]"}},
        {":irc.x 303 alice :bob", {"online bob"}},
        {":irc.x 303 alice bob", {}},
        // A whois answer, a label for each field.
        {":irc.x 311 alice bob ~b host.example * :Bob Builder",
         {"whois Nick: bob\nUser: ~b\nHost: host.example\nReal name: Bob Builder"}},
        // The real name as sent, blanks and all; markup is only text.
        {":irc.x 311 alice bob ~b h * :  two  <b>blanks</b> ",
         {"whois Nick: bob\nUser: ~b\nHost: h\nReal name:   two  <b>blanks</b> "}},
        {":irc.x 311 alice bob ~b h * :", {"whois Nick: bob\nUser: ~b\nHost: h\nReal name: "}},
        // A line break in a field makes up no field of its own.
        {":irc.x 311 alice bob ~b h * :Bob\nHost: trusted.example",
         {"whois Nick: bob\nUser: ~b\nHost: h\nReal name: Bob\\x0aHost: trusted.example"}},
        {":irc.x 311 alice bob ~b h\xE2\x80\xA8x * :B",
         {"whois Nick: bob\nUser: ~b\nHost: h\\u2028x\nReal name: B"}},
        // A server that leaves out the colon or splits the real name.
        {":irc.x 311 alice bob ~b h * Bob", {"whois Nick: bob\nUser: ~b\nHost: h\nReal name: Bob"}},
        {":irc.x 311 alice bob ~b h * Bob :Builder",
         {"whois Nick: bob\nUser: ~b\nHost: h\nReal name: Bob Builder"}},
        // Fields that are missing are left out.
        {":irc.x 311 alice bob ~b", {"whois Nick: bob\nUser: ~b"}},
        {":irc.x 311 alice bob", {"whois Nick: bob"}},
        {":irc.x 311 alice", {}},
        // Only an answer to us: not one that merely mentions our nick.
        {":irc.x 311 bob alice ~a h * :alice", {}},
        {"311 alice bob ~b h * :B", {"whois Nick: bob\nUser: ~b\nHost: h\nReal name: B"}},
        // Secure offers and resume requests.
        {":bob!b@h PRIVMSG alice :\001DCC SSEND \"a b\" 16843009 4000 10\001",
         {"dcc SEND bob [a b] 16843009 4000 10 secure"}},
        {":bob!b@h PRIVMSG alice :\001DCC SCHAT chat 16843009 4001\001",
         {"dcc CHAT bob [] 16843009 4001 0 secure"}},
        {":bob!b@h PRIVMSG alice :\001DCC SEND f 16843009 0 5000 18\001",
         {"dcc SEND bob [f] 16843009 0 5000 token 18"}},
        {":bob!b@h PRIVMSG alice :\001DCC SSEND f 16843009\001",
         {"log DCC offer dropped: a field is missing"}},
        {":bob!b@h PRIVMSG alice :\001DCC RESUME f 4000 100\001",
         {"resume RESUME bob [f] 4000 100"}},
        {":bob!b@h PRIVMSG alice :\001DCC ACCEPT f 0 100 18\001",
         {"resume ACCEPT bob [f] 0 100 token 18"}},
        // An unreadable position still reaches the transfer, which refuses to seek.
        {":bob!b@h PRIVMSG alice :\001DCC RESUME f 4000 -1\001",
         {"resume RESUME bob [f] 4000 none"}},
        {":bob!b@h PRIVMSG alice :\001DCC RESUME f 4000\001",
         {"log DCC resume dropped: a field is missing"}},
        {":bob!b@h PRIVMSG alice :\001DCC ACCEPT f\001",
         {"log DCC resume dropped: a field is missing"}},
        {":RESUMEr!b@h PRIVMSG alice :\001DCC RESUME f 1 2\001", {"resume RESUME RESUMEr [f] 1 2"}},
        // A sender whose host is an IPv6 address: its colons are not the trailing text's.
        {":ivy!~root@[0::1] PRIVMSG alice :\001DCC SEND f ::1 4000 10\001",
         {"dcc SEND ivy [f] ::1 4000 10"}},
        {":ivy!~i@2001:db8::1 PRIVMSG alice :hello", {"text ivy [hello]"}},
        // Presence: what the server supports, MONITOR's replies, a refused command; short or
        // broken lines are passed over.
        {":irc 005 alice MONITOR=100 CASEMAPPING=ascii :are supported",
         {"005 MONITOR=100 CASEMAPPING=ascii"}},
        {":irc 730 alice :bob!b@h.example,Carol!c@h", {"730 bob,Carol"}},
        {":irc 731 alice :dave", {"731 dave"}},
        {":irc 734 alice 100 erin,frank :Monitor list is full.", {"734 erin,frank"}},
        {":irc 421 alice ISON :Unknown command", {"421 ISON"}},
        {":irc 734 alice", {}},
        {":irc 421 alice", {}},
        {":irc 730 alice", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(handle(c.line), c.actions) << c.line;
}

// Once server-time was granted every line came tagged, and the rule that a tagged line has no
// command word dropped them all: no presence, no private text, no PONG.
TEST_F(MessageDispatcherTest, TaggedLinesAreReadOnceAnExtensionIsGranted)
{
    irc::Capabilities granted;
    granted.add(irc::Capability::ServerTime);
    dispatcher.setCapabilities(granted);
    const struct
    {
        const char* line;
        QList<QByteArray> actions;
    } cases[] = {
        {"@time=2024-01-01T00:00:00.000Z :bob!b@h PRIVMSG alice :hi", {"text bob [hi]"}},
        {"@time=2024-01-01T00:00:00.000Z :irc.x 303 alice :bob", {"online bob"}},
        {"@time=2024-01-01T00:00:00.000Z PING :x", {"send PONG :x"}},
        {"@time=2024-01-01T00:00:00.000Z :irc.x 352 alice * ~alice 127.0.0.1 irc.x alice H :0 A",
         {"host 127.0.0.1"}},
        // After the tags, the rules of an untagged line.
        {"@time=2024-01-01T00:00:00.000Z  :bob!b@h PRIVMSG alice :hi", {}},
        {"@time=2024-01-01T00:00:00.000Z :bob!b@h  PRIVMSG alice :hi", {}},
        {"@time=2024-01-01T00:00:00.000Z", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(handle(c.line), c.actions) << c.line;
}

// A contact coming back is ":bob!u@h AWAY", and a delivery without echo ":irc.x ACK": the rule
// that a command word is followed by a blank left both unread.
TEST_F(MessageDispatcherTest, AwayAndAckWithoutParametersAreRead)
{
    irc::Capabilities granted;
    granted.add(irc::Capability::ServerTime);
    granted.add(irc::Capability::AwayNotify);
    granted.add(irc::Capability::LabeledResponse);
    dispatcher.setCapabilities(granted);
    EXPECT_EQ(handle("@time=2024-01-01T00:00:00.000Z :bob!b@h AWAY"),
              QList<QByteArray>{"away bob"});
    EXPECT_EQ(handle("@time=2024-01-01T00:00:00.000Z :bob!b@h AWAY :lunch"),
              QList<QByteArray>{"away bob [lunch]"});
    EXPECT_EQ(handle("@label=L1 :irc.x ACK"), QList<QByteArray>{"echo ACK"});
    EXPECT_EQ(handle(":bob!b@h AWAY"), QList<QByteArray>{"away bob"});
    // Still nothing for other commands alone.
    EXPECT_EQ(handle("@time=2024-01-01T00:00:00.000Z PING"), QList<QByteArray>{});
}

TEST_F(MessageDispatcherTest, AwayReplyGoesOutOncePerSenderPerMinute)
{
    settings.awayset = true;
    settings.away = "out for lunch %s%n";
    EXPECT_EQ(handle(":bob!b@h PRIVMSG alice :lunch?"),
              (QList<QByteArray>{"send PRIVMSG bob :out for lunch %s%n",
                                 "text bob [lunch?] away[out for lunch %s%n]"}));
    actions.now += 59'999;
    EXPECT_EQ(handle(":bob!b@h PRIVMSG alice :hi"), QList<QByteArray>{"text bob [hi]"});
    EXPECT_EQ(handle(":carol!c@h PRIVMSG alice :hi"),
              (QList<QByteArray>{"send PRIVMSG carol :out for lunch %s%n",
                                 "text carol [hi] away[out for lunch %s%n]"}));
    actions.now += 1;
    EXPECT_EQ(handle(":bob!b@h PRIVMSG alice :again").first(),
              "send PRIVMSG bob :out for lunch %s%n");
}

// An automatic message drew an automatic answer: two away programs traded them. A person's
// action is typed, and answered.
TEST_F(MessageDispatcherTest, ACtcpQueryOrOfferDrawsNoAwayReply)
{
    settings.awayset = true;
    settings.away = "out";
    for (const QByteArray& text :
         {QByteArray("\001VERSION\001"), QByteArray("\001PING 1\001"), QByteArray("\001FOO\001"),
          QByteArray("\001DCC CHAT chat 16909060 4000\001"), QByteArray("\001")}) {
        for (const QByteArray& logged : handle(":bob!b@h PRIVMSG alice :" + text))
            EXPECT_FALSE(logged.startsWith("send ")) << text.toStdString();
    }
    EXPECT_EQ(handle(":bob!b@h PRIVMSG alice :\001ACTION waves\001").first(),
              "send PRIVMSG bob :out");
}

// Per sender, a flood from many nicks would still have drawn one reply from each of them.
TEST_F(MessageDispatcherTest, AwayRepliesAreBoundedOverallAsWellAsPerSender)
{
    settings.awayset = true;
    settings.away = "away";
    const auto replied = [&](int from, int to) {
        int count = 0;
        for (int i = from; i < to; ++i) {
            const QByteArray nick = "n" + QByteArray::number(i);
            count += handle(":" + nick + "!u@h PRIVMSG alice :hi")
                         .contains("send PRIVMSG " + nick + " :away");
        }
        return count;
    };
    EXPECT_EQ(replied(0, 25), int(irc::MessageDispatcher::kAwayRepliesPerMinute));
    actions.now += 30'000;
    EXPECT_EQ(replied(25, 30), 0);
    // The window slides: a minute after the first replies there is room again.
    actions.now += 30'000;
    EXPECT_EQ(replied(30, 45), int(irc::MessageDispatcher::kAwayRepliesPerMinute));
    // The text itself is never held back.
    EXPECT_EQ(handle(":late!u@h PRIVMSG alice :hi"), QList<QByteArray>{"text late [hi]"});
}

TEST_F(MessageDispatcherTest, LogsAFailedPong)
{
    actions.sendWorks = false;
    EXPECT_EQ(handle("PING :x").last(), "log send() error - SOCKET_ERROR (PONG response)");
}

// Found by fuzzing: a PING token holding NUL went back whole, and one of any length overran
// the line; a sender with a stray LF would have put its bytes where the server reads commands.
TEST_F(MessageDispatcherTest, PongAndAwayReplyNeverCarryLineBreaks)
{
    settings.awayset = true;
    settings.away = "away";
    const struct
    {
        QByteArray line;
        QList<QByteArray> actions;
    } cases[] = {
        {QByteArray("PING :tok\0QUIT", 14), {"send PONG :tok"}},
        {"PING :tok\rQUIT", {"send PONG :tok"}},
        {"PING :\nQUIT", {"send PONG :myhost"}},
        {"PING :" + QByteArray(600, 'x'), {"send PONG :" + QByteArray(510 - 6, 'x')}},
        {":bo\nQUIT!b@h PRIVMSG alice :hi", {"text bo\nQUIT [hi]"}},
        {QByteArray(":bo\0b!b@h PRIVMSG alice :hi", 27), {QByteArray("text bo\0b [hi]", 14)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(handle(c.line), c.actions) << c.line.toStdString();
}

// Found by fuzzing: with the away message set, a sender whose nick runs to hundreds of bytes
// made the reply longer than a line, and the link refused to send it.
TEST_F(MessageDispatcherTest, AwayReplyFitsALineWhateverTheSendersNick)
{
    const QByteArray away = "gone for lunch, back at two \xc3\xa9t\xc3\xa9";
    const struct
    {
        qsizetype nickLength;
        std::optional<QByteArray> reply; // the away text that goes out, if any
    } cases[] = {
        {5, away},
        {510 - 10 - away.size(), away},                // just fits
        {510 - 10 - away.size() + 1, away.chopped(2)}, // cut before the last é, not inside it
        {510 - 10 - 1, away.left(1)},                  // room for one byte
        {510 - 10, std::nullopt},                      // no room for any of it
        {450 * 2, std::nullopt},
    };
    settings.awayset = true;
    settings.away = away;
    for (const auto& c : cases) {
        const QByteArray nick(c.nickLength, 'n');
        const QList<QByteArray> done = handle(":" + nick + "!u@h PRIVMSG alice :hi");
        QList<QByteArray> expected;
        if (c.reply)
            expected << "send PRIVMSG " + nick + " :" + *c.reply;
        expected << "text " + nick + " [hi]" + (c.reply ? " away[" + *c.reply + "]" : QByteArray());
        EXPECT_EQ(done, expected) << c.nickLength;
        for (const QByteArray& entry : done) {
            if (entry.startsWith("send ")) {
                EXPECT_LE(entry.size() - 5, 510) << c.nickLength;
            }
        }
    }
}
