#include "irc/isupport.h"
#include "irc/message_dispatcher.h"
#include "irc/presence.h"

#include <gtest/gtest.h>

using irc::CaseMapping;

namespace {

QList<QByteArray> isupportTokens(QByteArrayView line)
{
    const std::optional<irc::Message> message = irc::parseMessage(line);
    return message ? irc::isupportTokens(*message) : QList<QByteArray>{};
}

void handle(irc::MessageDispatcher& dispatcher, QByteArrayView line)
{
    if (const std::optional<irc::Message> message = irc::parseMessage(line))
        dispatcher.HandleServerLine(*message);
}

} // namespace

TEST(IsupportTokens, AreTheWordsBetweenTheNickAndTheTrailingText)
{
    EXPECT_EQ(isupportTokens(":irc.example 005 alice MONITOR=100 NICKLEN=30 CASEMAPPING=ascii "
                             ":are supported by this server"),
              (QList<QByteArray>{"MONITOR=100", "NICKLEN=30", "CASEMAPPING=ascii"}));
    EXPECT_EQ(isupportTokens("005 alice MONITOR"), QList<QByteArray>{"MONITOR"});
    EXPECT_TRUE(isupportTokens(":irc 303 alice :bob").isEmpty());
    EXPECT_TRUE(isupportTokens(":irc 005").isEmpty());
    EXPECT_TRUE(isupportTokens("").isEmpty());
}

TEST(IsupportTokens, FillTheServerSupport)
{
    irc::ServerSupport support;
    EXPECT_FALSE(support.monitor);
    EXPECT_EQ(support.caseMapping, CaseMapping::Rfc1459); // the default until told
    irc::applyIsupportTokens(support, {"MONITOR=100", "NICKLEN=30", "CASEMAPPING=ascii", "FOO=1"});
    EXPECT_TRUE(support.monitor);
    EXPECT_EQ(support.monitorLimit, 100);
    EXPECT_EQ(support.nickLen, 30);
    EXPECT_EQ(support.caseMapping, CaseMapping::Ascii);

    irc::applyIsupportTokens(support, {"MONITOR", "CASEMAPPING=strict-rfc1459"});
    EXPECT_TRUE(support.monitor);
    EXPECT_EQ(support.monitorLimit, irc::ServerSupport::kNoMonitorLimit);
    EXPECT_EQ(support.caseMapping, CaseMapping::StrictRfc1459);

    irc::applyIsupportTokens(support, {"CASEMAPPING=RFC1459", "NICKLEN=junk", "MONITOR=x"});
    EXPECT_EQ(support.caseMapping, CaseMapping::Rfc1459);
    EXPECT_EQ(support.nickLen, 30); // an unreadable length changes nothing
    EXPECT_TRUE(support.monitor);
    EXPECT_EQ(support.monitorLimit, irc::ServerSupport::kNoMonitorLimit);

    irc::applyIsupportTokens(support, {"CASEMAPPING=rfc7613"});
    EXPECT_EQ(support.caseMapping, CaseMapping::Ascii);

    irc::applyIsupportTokens(support, {"-MONITOR", "-NICKLEN", "-CASEMAPPING"});
    EXPECT_EQ(support, irc::ServerSupport{});
}

TEST(SameNick, FollowsTheCaseMapping)
{
    EXPECT_TRUE(irc::sameNick("Bob", "bob", CaseMapping::Ascii));
    EXPECT_TRUE(irc::sameNick("Bob", "bOB", CaseMapping::Rfc1459));
    EXPECT_FALSE(irc::sameNick("bob", "bob_", CaseMapping::Rfc1459));

    EXPECT_TRUE(irc::sameNick("[a]", "{A}", CaseMapping::Rfc1459));
    EXPECT_TRUE(irc::sameNick("a\\b", "A|B", CaseMapping::Rfc1459));
    EXPECT_TRUE(irc::sameNick("x~", "X^", CaseMapping::Rfc1459));
    EXPECT_FALSE(irc::sameNick("[a]", "{a}", CaseMapping::Ascii));

    EXPECT_TRUE(irc::sameNick("[a]\\", "{a}|", CaseMapping::StrictRfc1459));
    EXPECT_FALSE(irc::sameNick("x~", "x^", CaseMapping::StrictRfc1459));

    // Only ASCII letters fold: bytes of UTF-8 nicks compare as they are.
    EXPECT_FALSE(irc::sameNick("\xc3\x89", "\xc3\xa9", CaseMapping::Rfc1459));
    EXPECT_EQ(irc::foldNick("Bob[X]~", CaseMapping::Rfc1459), "bob{x}^");
}

TEST(NickFits, HoldsToNicklenAndTheListSeparators)
{
    irc::ServerSupport support;
    EXPECT_TRUE(irc::nickFits("averyveryverylongnick", support)); // no NICKLEN: no limit
    support.nickLen = 9;
    EXPECT_TRUE(irc::nickFits("ninechars", support));
    EXPECT_FALSE(irc::nickFits("tenchars10", support));
    EXPECT_FALSE(irc::nickFits("", support));
    EXPECT_FALSE(irc::nickFits("a,b", support));
    EXPECT_FALSE(irc::nickFits("a b", support));
    EXPECT_FALSE(irc::nickFits(":ab", support));
}

TEST(MonitorLines, SplitAtTheLineLimit)
{
    EXPECT_EQ(irc::BuildMonitorLines('+', {"alice", "bob"}),
              QList<QByteArray>{"MONITOR + alice,bob"});
    EXPECT_TRUE(irc::BuildMonitorLines('-', {}).isEmpty());
    QList<QByteArray> nicks;
    for (int i = 0; i < 100; ++i)
        nicks << QByteArray("contact") + QByteArray::number(i).rightJustified(23, '0');
    const QList<QByteArray> lines = irc::BuildMonitorLines('+', nicks);
    ASSERT_GT(lines.size(), 1);
    QList<QByteArray> named;
    for (const QByteArray& line : lines) {
        EXPECT_LE(line.size() + 2, irc::kMaxLineBytes);
        ASSERT_TRUE(line.startsWith("MONITOR + "));
        named += line.mid(10).split(',');
    }
    EXPECT_EQ(named, nicks);
}

TEST(MonitorTargets, DropTheUserAndHost)
{
    EXPECT_EQ(irc::monitorTargets("bob!b@host.example,Carol,dave!d@h"),
              (QList<QByteArray>{"bob", "Carol", "dave"}));
    EXPECT_TRUE(irc::monitorTargets("").isEmpty());
}

TEST(MonitorWatch, WatchesUpToTheLimitAndKeepsTheRestForIson)
{
    irc::ServerSupport support;
    support.monitor = true;
    support.monitorLimit = 2;
    irc::MonitorWatch watch;
    EXPECT_EQ(watch.begin({"bob", "carol", "dave", "Bob"}, support),
              (QList<QByteArray>{"MONITOR C", "MONITOR + bob,carol"}));
    EXPECT_EQ(watch.overflow(), QList<QByteArray>{"dave"});

    EXPECT_TRUE(watch.setOnline({"BOB", "stranger"}));
    EXPECT_FALSE(watch.setOnline({"stranger"}));
    EXPECT_EQ(watch.onlineNames(), QList<QByteArray>{"BOB"});

    // Bob leaves the contacts: dave, who waited, takes his place.
    EXPECT_EQ(watch.sync({"carol", "dave", "erin"}),
              (QList<QByteArray>{"MONITOR - bob", "MONITOR + dave"}));
    EXPECT_EQ(watch.watched(), (QList<QByteArray>{"carol", "dave"}));
    EXPECT_EQ(watch.overflow(), QList<QByteArray>{"erin"});
    EXPECT_TRUE(watch.onlineNames().isEmpty());
    EXPECT_TRUE(watch.sync({"carol", "dave", "erin"}).isEmpty()); // nothing changed

    EXPECT_TRUE(watch.setOnline({"carol"}));
    EXPECT_TRUE(watch.setOffline({"carol"}));
    EXPECT_TRUE(watch.onlineNames().isEmpty());
}

TEST(MonitorWatch, TakesAFullListAsItsLimit)
{
    irc::ServerSupport support;
    support.monitor = true;
    irc::MonitorWatch watch;
    watch.begin({"a", "b", "c"}, support);
    EXPECT_TRUE(watch.listFull({"b", "c"}));
    EXPECT_EQ(watch.watched(), QList<QByteArray>{"a"});
    EXPECT_EQ(watch.overflow(), (QList<QByteArray>{"b", "c"}));
    // No room is made up: a new contact waits with the others.
    EXPECT_TRUE(watch.sync({"a", "b", "c", "d"}).isEmpty());
    EXPECT_EQ(watch.overflow(), (QList<QByteArray>{"b", "c", "d"}));
    // A list the server would take none of.
    EXPECT_TRUE(watch.listFull({"a"}));
    EXPECT_TRUE(watch.watched().isEmpty());
    EXPECT_TRUE(watch.sync({"a", "b"}).isEmpty());
}

TEST(MonitorWatch, ComparesNicksAsTheServerFoldsThem)
{
    irc::ServerSupport support;
    support.monitor = true;
    irc::MonitorWatch watch;
    watch.begin({"[a]"}, support);
    EXPECT_FALSE(watch.setOnline({"{A}!u@h"})); // a nick, not a target: the caller strips it
    EXPECT_TRUE(watch.setOnline(irc::monitorTargets("{A}!u@h")));
    EXPECT_EQ(watch.onlineNames(), QList<QByteArray>{"{A}"});
    // The same contact spelt another way is no change.
    EXPECT_TRUE(watch.sync({"{a}"}).isEmpty());
}

namespace {

// Records the presence calls the dispatcher makes; the rest of the interface does nothing.
class PresenceActions : public irc::ServerLineActions
{
public:
    QByteArray nickInUse() const override { return "alice"; }
    void setNickInUse(const QByteArray&) override {}
    qint64 nowMs() const override { return 0; }
    QByteArray localHostName() const override { return "host"; }
    bool sendLine(const QByteArray&) override { return true; }
    void setTitleNick(const QByteArray&) override {}
    void ctcpReply(QByteArrayView, const irc::Ctcp&) override {}
    void ctcpQuery(QByteArrayView, const irc::Ctcp&) override {}
    void dccOffer(const irc::DccOffer&) override {}
    void privateText(QByteArrayView, std::optional<QByteArrayView>,
                     const std::optional<QByteArray>&) override
    {}
    void presenceReply(const Names& names) override
    {
        QList<QByteArray> joined;
        for (const QByteArrayView name : names)
            joined << name.toByteArray();
        log << "303 " + joined.join(',');
    }
    void showWhois(QByteArrayView) override {}
    void resolveOwnHost(QByteArrayView) override {}
    void logStatus(const QString&) override {}

    void serverSupport(const QList<QByteArray>& tokens) override
    {
        log << "005 " + tokens.join(' ');
    }
    void monitorOnline(const QList<QByteArray>& nicks) override { log << "730 " + nicks.join(','); }
    void monitorOffline(const QList<QByteArray>& nicks) override
    {
        log << "731 " + nicks.join(',');
    }
    void monitorListFull(const QList<QByteArray>& nicks) override
    {
        log << "734 " + nicks.join(',');
    }
    void commandRefused(const QByteArray& command) override { log << "421 " + command; }

    QList<QByteArray> log;
};

} // namespace

TEST(PresenceDispatch, HandsOnTheServersPresenceReplies)
{
    PresenceActions actions;
    irc::MessageDispatcher dispatcher(config::Settings{}, actions);
    handle(dispatcher, ":irc 005 alice MONITOR=100 CASEMAPPING=ascii :are supported");
    handle(dispatcher, ":irc 730 alice :bob!b@h.example,Carol!c@h");
    handle(dispatcher, ":irc 731 alice :dave");
    handle(dispatcher, ":irc 734 alice 100 erin,frank :Monitor list is full.");
    handle(dispatcher, ":irc 421 alice ISON :Unknown command");
    handle(dispatcher, ":irc 303 alice :bob");
    // Short or broken lines are passed over.
    handle(dispatcher, ":irc 734 alice");
    handle(dispatcher, ":irc 421 alice");
    handle(dispatcher, ":irc 730 alice");
    EXPECT_EQ(actions.log,
              (QList<QByteArray>{"005 MONITOR=100 CASEMAPPING=ascii", "730 bob,Carol", "731 dave",
                                 "734 erin,frank", "421 ISON", "303 bob"}));
}
