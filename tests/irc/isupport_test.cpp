#include "irc/isupport.h"
#include "irc/message.h"
#include "irc/presence.h"

#include <gtest/gtest.h>

using irc::CaseMapping;

namespace {

QList<QByteArray> isupportTokens(QByteArrayView line)
{
    const std::optional<irc::Message> message = irc::parseMessage(line);
    return message ? irc::isupportTokens(*message) : QList<QByteArray>{};
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
