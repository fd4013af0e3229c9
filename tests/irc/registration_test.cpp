// The registration lines and the account login, against scripted server exchanges.
#include "irc/reconnect_backoff.h"
#include "irc/registration.h"
#include "irc/texts.h"

#include <gtest/gtest.h>

using irc::Registration;
using Outcome = irc::Registration::Outcome;

namespace {

const QByteArray kPass = "alice:s3cret pass";
// base64 of "alice\0alice\0s3cret pass"
const QByteArray kLogin = "AUTHENTICATE YWxpY2UAYWxpY2UAczNjcmV0IHBhc3M=";

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

const QByteArray kNick = "NICK alice";
const QByteArray kUser = "USER alice 0 * :Alice Smith";

// Feeds `lines` in order and gathers everything sent back.
QList<QByteArray> answers(Registration& registration, const QList<QByteArray>& lines,
                          QList<Outcome>* outcomes = nullptr)
{
    QList<QByteArray> sent;
    for (const QByteArray& line : lines) {
        const Registration::Reply reply = take(registration, line);
        sent << reply.send;
        if (outcomes && reply.outcome != Outcome::None)
            *outcomes << reply.outcome;
    }
    return sent;
}

} // namespace

TEST(Registration, WithoutAnAccountTheLinesAreTheOldOnes)
{
    Registration none("alice", "Alice Smith", "");
    EXPECT_EQ(none.start(), (QList<QByteArray>{"NICK alice", "USER alice 0 * :Alice Smith"}));
    EXPECT_FALSE(none.hasAccount());
    EXPECT_FALSE(none.negotiating());
    // An empty real name would leave USER without its last parameter, which strict servers
    // refuse: the nick stands in for it.
    EXPECT_EQ(Registration("alice", "", "").start(),
              (QList<QByteArray>{"NICK alice", "USER alice 0 * :alice"}));

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
        // Nothing the server says makes it send anything.
        QList<Outcome> outcomes;
        EXPECT_TRUE(answers(plain,
                            {":irc CAP * LS :sasl", "AUTHENTICATE +", ":irc 904 bob :failed",
                             ":irc 421 bob CAP :Unknown command", ":irc 903 bob :ok"},
                            &outcomes)
                        .isEmpty());
        EXPECT_TRUE(outcomes.isEmpty());
        EXPECT_TRUE(take(plain, ":irc 001 bob :Welcome").welcomed);
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

TEST(Registration, WithAnAccountOnlyCapLsGoesFirst)
{
    Registration r = withAccount();
    EXPECT_EQ(r.start(), QList<QByteArray>{"CAP LS 302"});
    EXPECT_TRUE(r.negotiating());
    // Server chatter before the answer sends nothing, and leaves the wait running.
    EXPECT_TRUE(answers(r, {":irc NOTICE * :*** Looking up your hostname"}).isEmpty());
    EXPECT_TRUE(r.negotiating());
}

// What goes out after "CAP LS 302" for each kind of answer, as exact lines. Only where no SASL is
// offered may the password travel in PASS.
TEST(Registration, PassGoesOnlyToServersThatOfferNoSasl)
{
    const QByteArray pass = "PASS " + kPass;
    const struct
    {
        const char* name;
        QList<QByteArray> server;
        QList<QByteArray> sent;
        Outcome outcome;
    } cases[] = {
        {"sasl with PLAIN",
         {":irc CAP * LS :multi-prefix sasl=PLAIN,EXTERNAL"},
         {kNick, kUser, "CAP REQ :sasl"},
         Outcome::None},
        {"bare sasl", {":irc CAP * LS :sasl"}, {kNick, kUser, "CAP REQ :sasl"}, Outcome::None},
        {"sasl without PLAIN",
         {":irc CAP * LS :sasl=EXTERNAL,SCRAM-SHA-256"},
         {kNick, kUser, "CAP END"},
         Outcome::NoPlainLogin},
        {"no sasl",
         {":irc CAP * LS :multi-prefix away-notify"},
         {pass, kNick, kUser, "CAP END"},
         Outcome::NoSasl},
        {"421", {":irc 421 * CAP :Unknown command"}, {pass, kNick, kUser}, Outcome::NoCapabilities},
        {"451",
         {":irc 451 * :You have not registered"},
         {pass, kNick, kUser},
         Outcome::NoCapabilities},
        {"410",
         {":irc 410 * LS :Invalid CAP command"},
         {pass, kNick, kUser, "CAP END"},
         Outcome::NoSasl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Registration r = withAccount();
        r.start();
        QList<Outcome> outcomes;
        EXPECT_EQ(answers(r, c.server, &outcomes), c.sent);
        EXPECT_EQ(outcomes,
                  c.outcome == Outcome::None ? QList<Outcome>{} : QList<Outcome>{c.outcome});
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
    EXPECT_TRUE(answers(r, {":irc CAP * LS :sasl", "AUTHENTICATE +"}).isEmpty());
    EXPECT_TRUE(take(r, ":irc 001 alice :Welcome").welcomed);
    EXPECT_EQ(r.nextDeadline(), std::nullopt);
}

TEST(Registration, WelcomeWhileWaitingEndsTheNegotiation)
{
    Registration r = withAccount();
    r.start();
    const Registration::Reply welcome = take(r, ":irc 001 alice :Welcome to IRC");
    EXPECT_TRUE(welcome.send.isEmpty());
    EXPECT_TRUE(welcome.welcomed);
    EXPECT_EQ(welcome.outcome, Outcome::NoCapabilities);
    EXPECT_FALSE(r.negotiating());
    // A late SASL line changes nothing.
    EXPECT_TRUE(answers(r, {"AUTHENTICATE +", ":irc 904 alice :failed"}).isEmpty());
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
        EXPECT_TRUE(answers(r, {"AUTHENTICATE +"}).isEmpty());
    }
    // Welcomed in time, nothing fails later.
    Registration welcomed("alice", "Alice Smith", "");
    welcomed.start(0);
    EXPECT_TRUE(take(welcomed, ":irc 001 alice :Welcome").welcomed);
    EXPECT_EQ(welcomed.poll(Registration::kRegistrationTimeoutMs * 2).outcome, Outcome::None);
    EXPECT_EQ(Registration().nextDeadline(), std::nullopt);
}

TEST(Registration, RefusedRequestEndsTheNegotiation)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    EXPECT_EQ(answers(r, {":irc CAP * LS :sasl", ":irc CAP * NAK :sasl"}, &outcomes),
              (QList<QByteArray>{kNick, kUser, "CAP REQ :sasl", "CAP END"}));
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::NoSasl});
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

TEST(Registration, SaslSuccess)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    const QList<QByteArray> sent =
        answers(r,
                {":irc NOTICE * :*** Checking Ident", ":irc CAP * LS :multi-prefix sasl",
                 ":irc CAP alice ACK :sasl ", "AUTHENTICATE +",
                 ":irc 900 alice alice!a@h alice :You are now logged in as alice",
                 ":irc 903 alice :SASL authentication successful"},
                &outcomes);
    EXPECT_EQ(sent, (QList<QByteArray>{kNick, kUser, "CAP REQ :sasl", "AUTHENTICATE PLAIN", kLogin,
                                       "CAP END"}));
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::LoggedIn});
    EXPECT_FALSE(r.negotiating());
    EXPECT_TRUE(take(r, ":irc 001 alice :Welcome").welcomed);
}

TEST(Registration, SaslFailure904EndsAndRegistrationGoesOn)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    const QList<QByteArray> sent =
        answers(r,
                {":irc CAP * LS :sasl=PLAIN", ":irc CAP * ACK :sasl", "AUTHENTICATE +",
                 ":irc 904 alice :SASL authentication failed",
                 // Some servers say 904 twice, or list their mechanisms too: one CAP END only.
                 ":irc 908 alice PLAIN :are available SASL mechanisms", ":irc 904 alice :failed"},
                &outcomes);
    EXPECT_EQ(sent, (QList<QByteArray>{kNick, kUser, "CAP REQ :sasl", "AUTHENTICATE PLAIN", kLogin,
                                       "CAP END"}));
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::LoginFailed});
}

TEST(Registration, EveryOtherEndingSendsCapEnd)
{
    const struct
    {
        const char* numeric;
        Outcome outcome;
    } cases[] = {
        {"902", Outcome::NickLocked},   {"905", Outcome::LoginFailed},
        {"906", Outcome::Aborted},      {"907", Outcome::AlreadyLoggedIn},
        {"908", Outcome::NoPlainLogin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.numeric);
        Registration r = withAccount();
        r.start();
        QList<Outcome> outcomes;
        const QList<QByteArray> sent =
            answers(r,
                    {":irc CAP * LS :sasl", ":irc CAP * ACK :sasl",
                     ":irc " + QByteArray(c.numeric) + " alice :it ended"},
                    &outcomes);
        EXPECT_EQ(sent, (QList<QByteArray>{kNick, kUser, "CAP REQ :sasl", "AUTHENTICATE PLAIN",
                                           "CAP END"}));
        EXPECT_EQ(outcomes, QList<Outcome>{c.outcome});
    }
}

TEST(Registration, AbortAfterTheLoginWasSent)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    const QList<QByteArray> sent = answers(r,
                                           {":irc CAP * LS :sasl", ":irc CAP * ACK :sasl",
                                            "AUTHENTICATE +", ":irc 906 alice :SASL aborted"},
                                           &outcomes);
    EXPECT_EQ(sent, (QList<QByteArray>{kNick, kUser, "CAP REQ :sasl", "AUTHENTICATE PLAIN", kLogin,
                                       "CAP END"}));
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::Aborted});
    // A second "AUTHENTICATE +" never draws the login again.
    EXPECT_TRUE(take(r, "AUTHENTICATE +").send.isEmpty());
}

TEST(Registration, LoginIsSplitInto400BytePieces)
{
    // 300 payload bytes make exactly 400 base64 bytes: a lone '+' must follow.
    irc::Account exact{"a", QByteArray(300 - 4, 'p')};
    QList<QByteArray> lines = irc::plainLoginLines(exact);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0).size(), qsizetype(strlen("AUTHENTICATE ") + 400));
    EXPECT_EQ(lines.at(1), "AUTHENTICATE +");

    irc::Account longer{"a", QByteArray(400, 'p')};
    lines = irc::plainLoginLines(longer);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0).size(), qsizetype(strlen("AUTHENTICATE ") + 400));
    EXPECT_NE(lines.at(1), "AUTHENTICATE +");
    QByteArray joined = lines.at(0).mid(13) + lines.at(1).mid(13);
    EXPECT_EQ(QByteArray::fromBase64(joined),
              "a" + QByteArray(1, '\0') + "a" + QByteArray(1, '\0') + QByteArray(400, 'p'));

    irc::Account twice{"a", QByteArray(600 - 4, 'p')}; // 800 base64 bytes
    lines = irc::plainLoginLines(twice);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines.at(2), "AUTHENTICATE +");
}

TEST(ReconnectBackoff, DoublesFrom15SecondsTo5MinutesWithASpreadOfATenth)
{
    irc::ReconnectBackoff backoff;
    QList<qint64> waits;
    for (int i = 0; i < 7; ++i)
        waits << backoff.next(0.0);
    EXPECT_EQ(waits, (QList<qint64>{15'000, 30'000, 60'000, 120'000, 240'000, 300'000, 300'000}));
    backoff.reset();
    EXPECT_EQ(backoff.next(1.0), 16'500);
    EXPECT_EQ(backoff.next(-1.0), 27'000);
    EXPECT_EQ(backoff.next(5.0), 66'000); // clamped to the spread
    backoff.reset();
    EXPECT_EQ(backoff.baseMs(), 15'000);
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

TEST(Registration, LetsOnOnceHoweverOftenTheServerWelcomes)
{
    Registration r("alice", "Alice Smith", "");
    r.start();
    EXPECT_TRUE(take(r, ":irc 001 alice :Welcome").welcomed);
    EXPECT_FALSE(take(r, ":irc 001 alice :Welcome again").welcomed);
}
