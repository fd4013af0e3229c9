// The one way a received line travels: the filters in the order added, our own echoes taken out,
// then the typed events with the line's stamp inside them.
#include "irc/history_batches.h"
#include "irc/line_router.h"
#include "irc/server_events.h"
#include "irc/server_time.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Takes the lines whose command it names, and notes every line it sees.
class NamedFilter : public irc::LineFilter
{
public:
    NamedFilter(QByteArray name, QByteArray takes, QList<QByteArray>& seen)
        : m_name(std::move(name))
        , m_takes(std::move(takes))
        , m_seen(seen)
    {}
    bool take(const irc::Message& message) override
    {
        m_seen << m_name + " " + message.command.toByteArray();
        return message.command == m_takes;
    }

private:
    QByteArray m_name;
    QByteArray m_takes;
    QList<QByteArray>& m_seen;
};

class LineRouterTest : public ::testing::Test
{
protected:
    LineRouterTest()
    {
        settings.nick = "alice";
        QObject::connect(
            &events, &irc::ServerEvents::privateText, [this](const irc::PrivateText& t) {
                seen << "text " + t.sender.toByteArray() + " " + t.text.value_or("").toByteArray()
                            + " " + irc::formatServerTime(t.stamp.at) + " " + t.stamp.msgId;
            });
        QObject::connect(&events, &irc::ServerEvents::ownLineEchoed,
                         [this](const irc::Message& m, const irc::LineStamp& stamp) {
                             seen << "echo " + m.command.toByteArray() + " " + stamp.msgId;
                         });
        QObject::connect(&events, &irc::ServerEvents::privateNotice,
                         [this](QByteArrayView sender, QByteArrayView) {
                             seen << "notice " + sender.toByteArray();
                         });
        QObject::connect(
            &events, &irc::ServerEvents::typing,
            [this](const QByteArray& nick, irc::TypingState) { seen << "typing " + nick; });
        router.addFilter(first);
        router.addFilter(second);
    }
    QList<QByteArray> route(const QByteArray& line)
    {
        seen.clear();
        if (const std::optional<irc::Message> message = irc::parseMessage(line))
            router.route(*message);
        return seen;
    }
    void grant(std::initializer_list<irc::Capability> capabilities)
    {
        irc::Capabilities granted;
        for (const irc::Capability c : capabilities)
            granted.add(c);
        router.setCapabilities(granted);
    }

    config::Settings settings;
    irc::ServerEvents events;
    QList<QByteArray> seen;
    NamedFilter first{"first", "BATCH", seen};
    NamedFilter second{"second", "TAGMSG", seen};
    irc::LineRouter router{
        events, settings,
        irc::LineServices{[] { return QByteArray("Alice"); },
                          [](const QByteArray&) { return true; }, [] { return qint64(0); },
                          [] { return QByteArray("host"); }, [](const QString&) {}}};
};

} // namespace

TEST_F(LineRouterTest, EveryLinePassesTheFiltersInOrderThenOurEchoesThenTheEvents)
{
    const char* const stamped = "@time=2024-05-06T07:08:09.010Z;msgid=m1 ";
    const struct
    {
        std::initializer_list<irc::Capability> granted;
        QByteArray line;
        QList<QByteArray> seen;
    } cases[] = {
        {{}, ":bob!b@h PRIVMSG alice :hi", {"first PRIVMSG", "second PRIVMSG", "text bob hi  "}},
        // A filter that takes a line ends its way: the ones after it never see it.
        {{}, ":irc BATCH +r chathistory bob", {"first BATCH"}},
        {{irc::Capability::MessageTags},
         ":bob!b@h TAGMSG alice",
         {"first TAGMSG", "second TAGMSG"}},
        // Without echo-message a line from our nick is someone's (a bouncer may send it).
        {{},
         ":alice!a@h PRIVMSG alice :me",
         {"first PRIVMSG", "second PRIVMSG", "text alice me  "}},
        // With it, our own line or notice is taken out, under any case of our nick, and carries
        // its stamp; it never comes out as someone's text.
        {{irc::Capability::EchoMessage, irc::Capability::ServerTime},
         stamped + QByteArray(":ALICE!a@h PRIVMSG bob :mine"),
         {"first PRIVMSG", "second PRIVMSG", "echo PRIVMSG m1"}},
        {{irc::Capability::EchoMessage},
         ":alice!a@h NOTICE bob :\x01VERSION\x01",
         {"first NOTICE", "second NOTICE", "echo NOTICE "}},
        // Read past its tags once something was granted; a line without a command word is no
        // echo either.
        {{irc::Capability::EchoMessage},
         ":alice!a@h  PRIVMSG bob :x",
         {"first PRIVMSG", "second PRIVMSG"}},
        // The stamp travels inside the event, read only once server-time is granted.
        {{irc::Capability::ServerTime},
         stamped + QByteArray(":bob!b@h PRIVMSG alice :hi"),
         {"first PRIVMSG", "second PRIVMSG", "text bob hi 2024-05-06T07:08:09.010Z m1"}},
        {{irc::Capability::MessageTags},
         stamped + QByteArray(":bob!b@h PRIVMSG alice :hi"),
         {"first PRIVMSG", "second PRIVMSG", "text bob hi  "}},
        {{irc::Capability::EchoMessage},
         ":bob!b@h NOTICE alice :plain",
         {"first NOTICE", "second NOTICE", "notice bob"}},
    };
    for (const auto& c : cases) {
        grant(c.granted);
        EXPECT_EQ(route(c.line), c.seen) << c.line.constData();
    }
}

// The history filter takes a batch's lines out only while history can be told from new lines;
// the lines of a batch nobody asked for go too, and ordinary lines pass untouched.
TEST(HistoryFilterTest, TakesTheBatchesOnlyWhileTheServerKeepsHistory)
{
    QList<QByteArray> finished;
    irc::HistoryFilter filter(
        [&](const irc::HistoryBatches::Finished& batch) { finished << batch.target; });
    filter.batches().setWanted([](const QByteArray& target) { return target == "bob"; });
    const auto take = [&](const char* line) { return filter.take(*irc::parseMessage(line)); };
    const QByteArray open = ":irc BATCH +h chathistory bob";
    const QByteArray inside = "@batch=h;time=2024-01-01T00:00:00.000Z :bob!b@h PRIVMSG alice :old";

    EXPECT_FALSE(take(open)) << "nothing is taken before the server keeps history";
    irc::Capabilities granted;
    for (const irc::Capability c :
         {irc::Capability::ChatHistory, irc::Capability::Batch, irc::Capability::ServerTime}) {
        filter.setCapabilities(granted);
        EXPECT_FALSE(take(open)) << "not with only some of what it needs";
        granted.add(c);
    }
    filter.setCapabilities(granted);
    EXPECT_TRUE(take(open));
    EXPECT_TRUE(take(inside));
    EXPECT_FALSE(take(":bob!b@h PRIVMSG alice :new"));
    EXPECT_TRUE(take(":irc BATCH -h"));
    EXPECT_EQ(finished, QList<QByteArray>{"bob"});
    EXPECT_TRUE(take(":irc BATCH +x chathistory carol"));
    EXPECT_TRUE(take("@batch=x :carol!c@h PRIVMSG alice :unasked"));
    EXPECT_TRUE(take(":irc BATCH -x"));
    EXPECT_EQ(finished, QList<QByteArray>{"bob"}) << "a batch nobody asked for is dropped";
}
