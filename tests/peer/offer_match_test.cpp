// What comes back for an offer of ours (an answer to a passive offer, a resume, the accept of
// our resume) is matched to it by these rules alone, and nicks by the one nick rule.
#include "irc/isupport.h"
#include "peer/common/nick_rule.h"
#include "peer/link/offer_match.h"

#include <gtest/gtest.h>

using irc::DccKind;
using peer::NickRule;

namespace {

NickRule serverSaid(irc::CaseMapping mapping)
{
    NickRule rule;
    rule.setCaseMapping(mapping);
    return rule;
}

peer::OurOffer passiveTo(const QByteArray& nick, DccKind kind = DccKind::Chat)
{
    return {kind, nick, 0, "77", true};
}

irc::DccOffer answerFrom(const QByteArray& sender, DccKind kind = DccKind::Chat,
                         const QByteArray& token = "77", quint16 port = 5000)
{
    irc::DccOffer answer = irc::DccOffer::active(kind, sender, {}, 0x7F000001, port);
    answer.token = token;
    return answer;
}

irc::DccResume resumeFrom(const QByteArray& sender, quint16 port, const QByteArray& token = {})
{
    irc::DccResume resume;
    resume.sender = sender;
    resume.port = port;
    resume.position = 10;
    resume.token = token;
    return resume;
}

} // namespace

TEST(NickRule, KeepsEachMatchsRuleUntilTheServerHasSaid)
{
    using Unsaid = NickRule::Unsaid;
    struct Case
    {
        QByteArray a, b;
        Unsaid unsaid;
        bool unknown, rfc1459, ascii;
    };
    const Case cases[] = {
        {"bob", "bob", Unsaid::Exact, true, true, true},
        {"bob", "Bob", Unsaid::Exact, false, true, true},
        {"bob", "Bob", Unsaid::IgnoreAsciiCase, true, true, true},
        {"[bob]", "{bob}", Unsaid::IgnoreAsciiCase, false, true, false},
        {"bob", "bob_", Unsaid::IgnoreAsciiCase, false, false, false},
    };
    const NickRule unknown;
    const NickRule rfc1459 = serverSaid(irc::CaseMapping::Rfc1459);
    const NickRule ascii = serverSaid(irc::CaseMapping::Ascii);
    for (const Case& c : cases) {
        EXPECT_EQ(unknown.same(c.a, c.b, c.unsaid), c.unknown) << c.a.data() << " " << c.b.data();
        EXPECT_EQ(rfc1459.same(c.a, c.b, c.unsaid), c.rfc1459) << c.a.data() << " " << c.b.data();
        EXPECT_EQ(ascii.same(c.a, c.b, c.unsaid), c.ascii) << c.a.data() << " " << c.b.data();
    }
    NickRule forgotten = rfc1459;
    forgotten.setCaseMapping(std::nullopt);
    EXPECT_FALSE(forgotten.caseMapping());
    EXPECT_FALSE(forgotten.same("bob", "Bob"));
}

TEST(OfferMatch, AnAnswerMatchesOnlyTheOpenPassiveOfferItAnswers)
{
    struct Case
    {
        const char* what;
        peer::OurOffer ours;
        irc::DccOffer answer;
        NickRule nicks;
        bool matches;
    };
    peer::OurOffer taken = passiveTo("bob");
    taken.open = false;
    peer::OurOffer active = {DccKind::Chat, "bob", 4000, {}, true};
    const Case cases[] = {
        {"our token from bob", passiveTo("bob"), answerFrom("bob"), {}, true},
        {"another spelling of bob", passiveTo("bob"), answerFrom("BOB"), {}, true},
        {"another token", passiveTo("bob"), answerFrom("bob", DccKind::Chat, "78"), {}, false},
        {"no token", passiveTo("bob"), answerFrom("bob", DccKind::Chat, {}), {}, false},
        {"no port to connect to",
         passiveTo("bob"),
         answerFrom("bob", DccKind::Chat, "77", 0),
         {},
         false},
        {"someone else", passiveTo("bob"), answerFrom("carol"), {}, false},
        {"another kind", passiveTo("bob"), answerFrom("bob", DccKind::Send), {}, false},
        {"an offer already answered", taken, answerFrom("bob"), {}, false},
        {"an active offer", active, answerFrom("bob", DccKind::Chat, {}), {}, false},
        {"rfc1459 folds brackets", passiveTo("{bob}", DccKind::Send),
         answerFrom("[BOB]", DccKind::Send), serverSaid(irc::CaseMapping::Rfc1459), true},
        {"ascii does not", passiveTo("{bob}", DccKind::Send), answerFrom("[bob]", DccKind::Send),
         serverSaid(irc::CaseMapping::Ascii), false},
        {"nor does the rule before the server said",
         passiveTo("{bob}"),
         answerFrom("[bob]"),
         {},
         false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(peer::answersOffer(c.ours, c.answer, c.nicks), c.matches) << c.what;
}

TEST(OfferMatch, AResumeNamesAnActiveOfferByPortAndAPassiveOneByToken)
{
    struct Case
    {
        const char* what;
        peer::OurOffer ours;
        irc::DccResume resume;
        bool matches;
    };
    const peer::OurOffer active = {DccKind::Send, "bob", 4000, {}, true};
    const peer::OurOffer passive = passiveTo("bob", DccKind::Send);
    peer::OurOffer running = active;
    running.open = false;
    const Case cases[] = {
        {"the port we listen on", active, resumeFrom("Bob", 4000), true},
        {"another port", active, resumeFrom("bob", 4001), false},
        {"port 0 for an active offer", active, resumeFrom("bob", 0, "77"), false},
        {"our token", passive, resumeFrom("bob", 0, "77"), true},
        {"a port for a passive offer", passive, resumeFrom("bob", 4000, "77"), false},
        {"another token", passive, resumeFrom("bob", 0, "78"), false},
        {"someone else", active, resumeFrom("carol", 4000), false},
        {"a transfer under way", running, resumeFrom("bob", 4000), false},
        {"a chat offer", {DccKind::Chat, "bob", 4000, {}, true}, resumeFrom("bob", 4000), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(peer::resumeNamesOffer(c.ours, c.resume, {}), c.matches) << c.what;
}

TEST(OfferMatch, AnAcceptAnswersTheResumeWeAskedOfTheirOffer)
{
    struct Case
    {
        const char* what;
        irc::DccOffer theirs;
        irc::DccResume accept;
        bool matches;
    };
    const irc::DccOffer active = irc::DccOffer::active(DccKind::Send, "bob", "f", 1, 4000, 99);
    irc::DccOffer passive = active;
    passive.port = 0;
    passive.token = "77";
    const Case cases[] = {
        {"the offer's port", active, resumeFrom("BOB", 4000), true},
        {"another port", active, resumeFrom("bob", 4001), false},
        {"the passive offer's token", passive, resumeFrom("bob", 0, "77"), true},
        {"another token", passive, resumeFrom("bob", 0, "78"), false},
        {"a port for a passive offer", passive, resumeFrom("bob", 4000, "77"), false},
        {"someone else", active, resumeFrom("carol", 4000), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(peer::acceptAnswersResume(c.theirs, c.accept, {}), c.matches) << c.what;
}
