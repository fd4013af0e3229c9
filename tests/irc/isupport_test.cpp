#include "irc/isupport.h"
#include "irc/message.h"
#include "irc/presence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <rapidcheck/gtest.h>

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

// Only the mapping's own letters fold: A-Z always, []\\ as {}| unless ASCII, ~ as ^ only in
// RFC 1459; every other byte, those of UTF-8 nicks too, compares as it is.
RC_GTEST_PROP(SameNick, FoldsOnlyTheLettersOfTheCaseMapping, ())
{
    const auto mapping =
        *rc::gen::element(CaseMapping::Ascii, CaseMapping::Rfc1459, CaseMapping::StrictRfc1459);
    const auto nick = [] {
        const auto bytes = rc::gen::elementOf(std::string("aAzZ[]{}\\|~^_-`\xc3\x89\xa9"));
        return QByteArray::fromStdString(*rc::gen::container<std::string>(bytes));
    };
    const auto model = [mapping](QByteArray text) {
        for (char& c : text) {
            const char* from = mapping == CaseMapping::Ascii ? "" : "[]\\";
            if (c >= 'A' && c <= 'Z')
                c = char(c + 32);
            else if (c != 0 && std::strchr(from, c))
                c = "{}|"[std::strchr(from, c) - from];
            else if (c == '~' && mapping == CaseMapping::Rfc1459)
                c = '^';
        }
        return text;
    };
    const QByteArray a = nick();
    const QByteArray b = *rc::gen::element(nick(), model(a), a.toUpper());
    RC_ASSERT(irc::foldNick(a, mapping) == model(a));
    RC_ASSERT(irc::sameNick(a, b, mapping) == (model(a) == model(b)));
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
