// The registration lines and the account login, against scripted server exchanges.
#include "irc/registration.h"
#include "irc/texts.h"

#include <gtest/gtest.h>

using irc::Registration;
using Outcome = irc::Registration::Outcome;

namespace {

const QByteArray kPass = "alice:s3cret pass";
// base64 of "alice\0alice\0s3cret pass"
const QByteArray kLogin = "AUTHENTICATE YWxpY2UAYWxpY2UAczNjcmV0IHBhc3M=";
const QByteArray kNick = "NICK alice";
const QByteArray kUser = "USER alice 0 * :Alice Smith";
const QByteArray kReq = "CAP REQ :sasl";
const QByteArray kPlain = "AUTHENTICATE PLAIN";

Registration withAccount()
{
    return Registration("alice", "Alice Smith", kPass);
}

// One server line as the link hands it over: parsed, or nothing to take when it cannot be.
Registration::Reply take(Registration& registration, QByteArrayView line)
{
    const std::optional<irc::Message> message = irc::parseMessage(line);
    return message ? registration.take(*message) : Registration::Reply{};
}

// Everything sent back to `lines`, fed in order, with the outcomes and the welcomes.
struct Heard
{
    QList<QByteArray> sent;
    QList<Outcome> outcomes;
    int welcomed = 0;
};
Heard answers(Registration& registration, const QList<QByteArray>& lines)
{
    Heard heard;
    for (const QByteArray& line : lines) {
        const Registration::Reply reply = take(registration, line);
        heard.sent << reply.send;
        if (reply.outcome != Outcome::None)
            heard.outcomes << reply.outcome;
        heard.welcomed += reply.welcomed;
    }
    return heard;
}

} // namespace

TEST(Registration, WithoutAnAccountTheLinesAreTheOldOnes)
{
    Registration none("alice", "Alice Smith", "");
    EXPECT_EQ(none.start(), (QList<QByteArray>{kNick, kUser}));
    EXPECT_FALSE(none.hasAccount());
    EXPECT_FALSE(none.negotiating());
    // An empty real name would leave USER without its last parameter, which strict servers
    // refuse: the nick stands in for it.
    EXPECT_EQ(Registration("alice", "", "").start(),
              (QList<QByteArray>{kNick, "USER alice 0 * :alice"}));

    // A password with no account before its first colon is a plain server password.
    for (const QByteArray& pass : {QByteArray("s3cret"), QByteArray(":s3cret"), QByteArray("")}) {
        Registration plain("bob", "Bob", pass);
        QList<QByteArray> expected;
        if (!pass.isEmpty())
            expected << "PASS " + pass;
        expected << "NICK bob"
                 << "USER bob 0 * :Bob";
        EXPECT_EQ(plain.start(), expected) << pass.constData();
        EXPECT_FALSE(plain.hasAccount());
        // Nothing the server says makes it send anything, and it lets on once however often
        // the server welcomes.
        const Heard heard =
            answers(plain, {":irc CAP * LS :sasl", "AUTHENTICATE +", ":irc 904 bob :failed",
                            ":irc 421 bob CAP :Unknown command", ":irc 903 bob :ok",
                            ":irc 001 bob :Welcome", ":irc 001 bob :Welcome again"});
        EXPECT_TRUE(heard.sent.isEmpty());
        EXPECT_TRUE(heard.outcomes.isEmpty());
        EXPECT_EQ(heard.welcomed, 1);
    }
}

TEST(Registration, AccountIsTheTextBeforeTheFirstColon)
{
    const auto account = irc::accountIn("me:pa:ss");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->name, "me");
    EXPECT_EQ(account->password, "pa:ss");
    EXPECT_FALSE(irc::accountIn(":pass"));
    EXPECT_FALSE(irc::accountIn("pass"));
    EXPECT_TRUE(irc::accountIn("me:"));
}

// With an account only "CAP LS 302" goes first; what follows it for each kind of answer, as
// exact lines. Only where no SASL is offered may the password travel in PASS. The negotiation
// ends exactly when it has an outcome.
TEST(Registration, AnswersEachCapabilityExchange)
{
    const QByteArray pass = "PASS " + kPass;
    const QByteArray sasl = ":irc CAP * LS :sasl";
    const QByteArray ack = ":irc CAP * ACK :sasl";
    const QByteArray plus = "AUTHENTICATE +";
    const QByteArray end = "CAP END";
    using O = Outcome;
    const struct
    {
        QList<QByteArray> server;
        QList<QByteArray> sent;
        Outcome outcome;
        int welcomed = 0;
    } cases[] = {
        {{":irc NOTICE * :*** Looking up your hostname"}, {}, O::None},
        {{":irc CAP * LS :multi-prefix sasl=PLAIN,EXTERNAL"}, {kNick, kUser, kReq}, O::None},
        {{sasl}, {kNick, kUser, kReq}, O::None},
        {{":irc CAP * LS :sasl=EXTERNAL,SCRAM-SHA-256"}, {kNick, kUser, end}, O::NoPlainLogin},
        {{":irc CAP * LS :multi-prefix away-notify"}, {pass, kNick, kUser, end}, O::NoSasl},
        {{":irc 421 * CAP :Unknown command"}, {pass, kNick, kUser}, O::NoCapabilities},
        {{":irc 451 * :You have not registered"}, {pass, kNick, kUser}, O::NoCapabilities},
        {{":irc 410 * LS :Invalid CAP command"}, {pass, kNick, kUser, end}, O::NoSasl},
        // Welcomed while waiting: a late SASL line changes nothing.
        {{":irc 001 alice :Welcome to IRC", plus, ":irc 904 alice :failed"},
         {},
         O::NoCapabilities,
         1},
        {{sasl, ":irc CAP * NAK :sasl"}, {kNick, kUser, kReq, end}, O::NoSasl},
        {{":irc NOTICE * :*** Checking Ident", ":irc CAP * LS :multi-prefix sasl",
          ":irc CAP alice ACK :sasl ", plus,
          ":irc 900 alice alice!a@h alice :You are now logged in as alice",
          ":irc 903 alice :SASL authentication successful", ":irc 001 alice :Welcome"},
         {kNick, kUser, kReq, kPlain, kLogin, end},
         O::LoggedIn,
         1},
        // Some servers say 904 twice, or list their mechanisms too: one CAP END only.
        {{":irc CAP * LS :sasl=PLAIN", ack, plus, ":irc 904 alice :SASL authentication failed",
          ":irc 908 alice PLAIN :are available SASL mechanisms", ":irc 904 alice :failed"},
         {kNick, kUser, kReq, kPlain, kLogin, end},
         O::LoginFailed},
        // A second "AUTHENTICATE +" never draws the login again.
        {{sasl, ack, plus, ":irc 906 alice :SASL aborted", plus},
         {kNick, kUser, kReq, kPlain, kLogin, end},
         O::Aborted},
        // Every other ending sends CAP END.
        {{sasl, ack, ":irc 902 alice :end"}, {kNick, kUser, kReq, kPlain, end}, O::NickLocked},
        {{sasl, ack, ":irc 905 alice :end"}, {kNick, kUser, kReq, kPlain, end}, O::LoginFailed},
        {{sasl, ack, ":irc 906 alice :end"}, {kNick, kUser, kReq, kPlain, end}, O::Aborted},
        {{sasl, ack, ":irc 907 alice :end"}, {kNick, kUser, kReq, kPlain, end}, O::AlreadyLoggedIn},
        {{sasl, ack, ":irc 908 alice :end"}, {kNick, kUser, kReq, kPlain, end}, O::NoPlainLogin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server.join(" / ").toStdString());
        Registration r = withAccount();
        EXPECT_EQ(r.start(), QList<QByteArray>{"CAP LS 302"});
        EXPECT_TRUE(r.negotiating());
        const Heard heard = answers(r, c.server);
        EXPECT_EQ(heard.sent, c.sent);
        EXPECT_EQ(heard.outcomes,
                  c.outcome == O::None ? QList<Outcome>{} : QList<Outcome>{c.outcome});
        EXPECT_EQ(heard.welcomed, c.welcomed);
        EXPECT_EQ(r.negotiating(), c.outcome == O::None);
    }
}

TEST(Registration, NoAnswerWithinTheWaitRegistersWithPass)
{
    Registration r = withAccount();
    r.start(1'000);
    EXPECT_EQ(r.nextDeadline(), 1'000 + Registration::kCapWaitMs);
    EXPECT_TRUE(r.poll(1'000 + Registration::kCapWaitMs - 1).send.isEmpty());
    const Registration::Reply late = r.poll(1'000 + Registration::kCapWaitMs);
    EXPECT_EQ(late.send, (QList<QByteArray>{"PASS " + kPass, kNick, kUser}));
    EXPECT_EQ(late.outcome, Outcome::NoCapabilities);
    EXPECT_FALSE(r.negotiating());
    EXPECT_TRUE(r.poll(1'000 + Registration::kCapWaitMs + 1).send.isEmpty());
    // A server that was only slow holds us until CAP END: it gets one, and nothing else.
    EXPECT_TRUE(take(r, ":irc CAP * LS * :sasl").send.isEmpty());
    EXPECT_EQ(take(r, ":irc CAP * LS :multi-prefix").send, QList<QByteArray>{"CAP END"});
    EXPECT_TRUE(answers(r, {":irc CAP * LS :sasl", "AUTHENTICATE +"}).sent.isEmpty());
    EXPECT_TRUE(take(r, ":irc 001 alice :Welcome").welcomed);
    EXPECT_EQ(r.nextDeadline(), std::nullopt);
}

TEST(Registration, RegistrationThatIsNotWelcomedInTimeFails)
{
    for (const QByteArray& serverpass : {QByteArray(""), QByteArray("plain"), kPass}) {
        SCOPED_TRACE(serverpass.constData());
        Registration r("alice", "Alice Smith", serverpass);
        r.start(500);
        answers(r, {":irc CAP * LS :sasl", ":irc CAP * ACK :sasl"});
        const qint64 end = 500 + Registration::kRegistrationTimeoutMs;
        EXPECT_EQ(r.nextDeadline(), end);
        EXPECT_EQ(r.poll(end - 1).outcome, Outcome::None);
        const Registration::Reply reply = r.poll(end);
        EXPECT_EQ(reply.outcome, Outcome::TimedOut);
        EXPECT_TRUE(reply.send.isEmpty());
        EXPECT_FALSE(r.negotiating());
        EXPECT_EQ(r.poll(end + 1).outcome, Outcome::None); // failed once
        EXPECT_EQ(r.nextDeadline(), std::nullopt);
        EXPECT_TRUE(answers(r, {"AUTHENTICATE +"}).sent.isEmpty());
    }
    // Welcomed in time, nothing fails later.
    Registration welcomed("alice", "Alice Smith", "");
    welcomed.start(0);
    EXPECT_TRUE(take(welcomed, ":irc 001 alice :Welcome").welcomed);
    EXPECT_EQ(welcomed.poll(Registration::kRegistrationTimeoutMs * 2).outcome, Outcome::None);
    EXPECT_EQ(Registration().nextDeadline(), std::nullopt);
}

TEST(Registration, MultiLineCapLsIsReadWhole)
{
    Registration r = withAccount();
    r.start();
    // Nothing is asked for before the last line of the list, wherever sasl stands in it.
    EXPECT_TRUE(take(r, ":irc CAP * LS * :multi-prefix sasl=PLAIN,EXTERNAL").send.isEmpty());
    EXPECT_TRUE(take(r, ":irc CAP * LS * :away-notify account-notify").send.isEmpty());
    EXPECT_EQ(take(r, ":irc CAP * LS :extended-join").send,
              (QList<QByteArray>{kNick, kUser, "CAP REQ :sasl"}));
    EXPECT_TRUE(r.negotiating());
}

TEST(Registration, EndlessCapLsIsCutAndJudged)
{
    // By lines: the list counts as ended at the bound, on what it offered so far.
    Registration r = withAccount();
    r.start();
    QList<QByteArray> sent;
    for (int i = 0; i < 1'000; ++i)
        sent << take(r, ":irc CAP * LS * :cap" + QByteArray::number(i)).send;
    EXPECT_EQ(sent, (QList<QByteArray>{"PASS " + kPass, kNick, kUser, "CAP END"}));
    EXPECT_FALSE(r.negotiating());

    // By bytes: a few huge lines are cut as well, and a sasl among them still counts.
    Registration bytes = withAccount();
    bytes.start();
    sent.clear();
    sent << take(bytes, ":irc CAP * LS * :sasl").send;
    for (int i = 0; i < 10; ++i)
        sent << take(bytes, ":irc CAP * LS * :" + QByteArray(4'000, 'x')).send;
    EXPECT_EQ(sent, (QList<QByteArray>{kNick, kUser, "CAP REQ :sasl"}));
    EXPECT_TRUE(take(bytes, ":irc CAP * LS :late").send.isEmpty());
}

TEST(Registration, LoginIsSplitInto400BytePieces)
{
    // 300 payload bytes make exactly 400 base64 bytes: a lone '+' must follow.
    const struct
    {
        qsizetype passwordBytes;
        qsizetype lines;
        bool plusLast;
    } cases[] = {{300 - 4, 2, true}, {400, 2, false}, {600 - 4, 3, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.passwordBytes);
        const irc::Account account{"a", QByteArray(c.passwordBytes, 'p')};
        const QList<QByteArray> lines = irc::plainLoginLines(account);
        ASSERT_EQ(lines.size(), c.lines);
        EXPECT_EQ(lines.at(0).size(), qsizetype(strlen("AUTHENTICATE ") + 400));
        EXPECT_EQ(lines.last() == "AUTHENTICATE +", c.plusLast);
        QByteArray joined;
        for (const QByteArray& line : lines)
            joined += line.mid(13);
        EXPECT_EQ(QByteArray::fromBase64(joined.chopped(c.plusLast ? 1 : 0)),
                  QByteArray("a\0a\0", 4) + account.password);
    }
}

TEST(Registration, AFailedLoginIsAStatusAndTheRestOnlyNotes)
{
    using Step = irc::LinkStatus::Step;
    const struct
    {
        Outcome outcome;
        Registration::Report report;
    } cases[] = {
        {Outcome::None, {}},
        {Outcome::TimedOut, {}},
        {Outcome::LoggedIn, {std::nullopt, irc::text::kLogAccountLoggedIn}},
        {Outcome::LoginFailed, {Step::AccountLoginFailed}},
        {Outcome::NickLocked, {Step::AccountNickLocked}},
        {Outcome::Aborted, {Step::AccountLoginAborted}},
        {Outcome::AlreadyLoggedIn, {Step::AccountAlreadyLoggedIn}},
        {Outcome::NoPlainLogin, {Step::AccountNoPlainLogin}},
        {Outcome::NoSasl, {std::nullopt, irc::text::kLogAccountNoSasl}},
        {Outcome::NoCapabilities, {std::nullopt, irc::text::kLogAccountNoCapabilities}},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(Registration::report(c.outcome) == c.report) << int(c.outcome);
}

// With the extensions on, "CAP LS 302" leads and the registration lines follow at once, so a
// server that does not negotiate lets us on without a wait; one that does is asked for the
// extensions we use among those it offers, and CAP END follows its answer.
TEST(Registration, NegotiatesTheExtensionsWeUse)
{
    const QByteArray end = "CAP END";
    const QByteArray ls = "CAP LS 302";
    using C = irc::Capability;
    const struct
    {
        const char* name;
        QByteArray pass;
        QList<QByteArray> server;
        QList<QByteArray> sent; // after the lines of start()
        QList<C> granted;
        Outcome outcome = Outcome::None;
    } cases[] = {
        {"nothing wanted offered",
         "",
         {":irc CAP * LS :multi-prefix", ":irc 001 alice :Welcome"},
         {end},
         {}},
        {"no negotiation", "", {":irc 421 * CAP :Unknown command", ":irc 001 alice :Hi"}, {}, {}},
        {"welcomed without an answer", "", {":irc 001 alice :Welcome"}, {}, {}},
        {"granted",
         "",
         {":irc CAP * LS * :multi-prefix message-tags server-time sts=port=6697,duration=60",
          ":irc CAP * LS :echo-message away-notify draft/chathistory chathistory batch",
          ":irc CAP alice ACK :message-tags server-time echo-message away-notify "
          "chathistory batch"},
         {"CAP REQ :message-tags server-time echo-message away-notify chathistory batch", end},
         {C::MessageTags, C::ServerTime, C::EchoMessage, C::AwayNotify, C::ChatHistory, C::Batch}},
        {"refused",
         "",
         {":irc CAP * LS :echo-message labeled-response", ":irc CAP alice NAK :echo-message "
                                                          "labeled-response"},
         {"CAP REQ :echo-message labeled-response", end},
         {}},
        // With an account the extensions are asked for before SASL, and CAP END waits for the
        // login.
        {"beside the login",
         kPass,
         {":irc CAP * LS :sasl=PLAIN extended-monitor away-notify",
          ":irc CAP alice ACK :extended-monitor away-notify", ":irc CAP alice ACK :sasl",
          "AUTHENTICATE +", ":irc 903 alice :SASL authentication successful"},
         {kNick, kUser, "CAP REQ :extended-monitor away-notify", kReq, kPlain, kLogin, end},
         {C::ExtendedMonitor, C::AwayNotify},
         Outcome::LoggedIn},
        {"an account on a server without SASL",
         kPass,
         {":irc CAP * LS :server-time", ":irc CAP alice ACK :server-time"},
         {"PASS " + kPass, kNick, kUser, "CAP REQ :server-time", end},
         {C::ServerTime},
         Outcome::NoSasl},
    };
    for (const auto& c : cases) {
        Registration registration("alice", "Alice Smith", c.pass, true);
        const QList<QByteArray> first = registration.start();
        QList<QByteArray> expectedFirst{ls};
        if (c.pass.isEmpty())
            expectedFirst << kNick << kUser;
        EXPECT_EQ(first, expectedFirst) << c.name;
        const Heard heard = answers(registration, c.server);
        EXPECT_EQ(heard.sent, c.sent) << c.name;
        irc::Capabilities expected;
        for (C capability : c.granted)
            expected.add(capability);
        EXPECT_EQ(registration.capabilities(), expected) << c.name;
        EXPECT_EQ(heard.outcomes.value(0, Outcome::None), c.outcome) << c.name;
        EXPECT_LE(heard.outcomes.size(), 1) << c.name;
    }
}

TEST(Registration, FollowsCapabilitiesOfferedAndWithdrawnLater)
{
    Registration registration("alice", "Alice Smith", "", true);
    registration.start();
    answers(registration, {":irc CAP * LS :sts=port=6697,duration=300 away-notify",
                           ":irc CAP alice ACK :away-notify", ":irc 001 alice :Welcome"});
    EXPECT_EQ(registration.stsPolicy(), QByteArray("port=6697,duration=300"));
    EXPECT_TRUE(registration.capabilities().has(irc::Capability::AwayNotify));

    Heard heard = answers(registration, {":irc CAP alice NEW :server-time away-notify foo"});
    EXPECT_EQ(heard.sent, (QList<QByteArray>{"CAP REQ :server-time"}));
    answers(registration, {":irc CAP alice ACK :server-time", ":irc CAP alice DEL :away-notify"});
    EXPECT_TRUE(registration.capabilities().has(irc::Capability::ServerTime));
    EXPECT_FALSE(registration.capabilities().has(irc::Capability::AwayNotify));

    // Without the extensions a server's later offers are not taken up.
    Registration plain("alice", "Alice Smith", "");
    plain.start();
    heard = answers(plain, {":irc 001 alice :Welcome", ":irc CAP alice NEW :server-time"});
    EXPECT_TRUE(heard.sent.isEmpty());
}
