// The registration lines and the account login, against scripted server exchanges.
#include "irc/reconnect_backoff.h"
#include "irc/registration.h"

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

const QList<QByteArray> kOpening = {"CAP LS 302", "PASS " + kPass, "NICK alice",
                                    "USER alice 0 * :Alice Smith"};

// Feeds `lines` in order and gathers everything sent back.
QList<QByteArray> answers(Registration& registration, const QList<QByteArray>& lines,
                          QList<Outcome>* outcomes = nullptr)
{
    QList<QByteArray> sent;
    for (const QByteArray& line : lines) {
        const Registration::Reply reply = registration.take(line);
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
        EXPECT_TRUE(plain.take(":irc 001 bob :Welcome").welcomed);
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

TEST(Registration, OpensWithCapLsThenPassNickUser)
{
    Registration r = withAccount();
    EXPECT_EQ(r.start(), kOpening);
    EXPECT_TRUE(r.negotiating());
}

TEST(Registration, ServerThatIgnoresCapRegistersWithPass)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    EXPECT_TRUE(answers(r, {":irc NOTICE * :*** Looking up your hostname"}, &outcomes).isEmpty());
    const Registration::Reply welcome = r.take(":irc 001 alice :Welcome to IRC");
    EXPECT_TRUE(welcome.send.isEmpty());
    EXPECT_TRUE(welcome.welcomed);
    EXPECT_EQ(welcome.outcome, Outcome::NoCapabilities);
    EXPECT_FALSE(r.negotiating());
    // A late SASL line changes nothing.
    EXPECT_TRUE(answers(r, {"AUTHENTICATE +", ":irc 904 alice :failed"}).isEmpty());
}

TEST(Registration, ServerThatAnswersCapWith421RegistersWithPass)
{
    Registration r = withAccount();
    r.start();
    const Registration::Reply reply = r.take(":irc 421 * CAP :Unknown command");
    EXPECT_TRUE(reply.send.isEmpty()); // no CAP END for a server that knows no CAP
    EXPECT_EQ(reply.outcome, Outcome::NoCapabilities);
    EXPECT_FALSE(r.negotiating());
    EXPECT_TRUE(r.take(":irc 001 alice :Welcome").welcomed);
}

TEST(Registration, ServerWithoutSaslEndsTheNegotiation)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    EXPECT_EQ(answers(r, {":irc CAP * LS :multi-prefix away-notify"}, &outcomes),
              QList<QByteArray>{"CAP END"});
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::NoSasl});
    EXPECT_FALSE(r.negotiating());
}

TEST(Registration, SaslWithoutPlainEndsTheNegotiation)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    EXPECT_EQ(answers(r, {":irc CAP * LS :sasl=EXTERNAL,SCRAM-SHA-256"}, &outcomes),
              QList<QByteArray>{"CAP END"});
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::NoPlainLogin});
}

TEST(Registration, RefusedRequestEndsTheNegotiation)
{
    Registration r = withAccount();
    r.start();
    QList<Outcome> outcomes;
    EXPECT_EQ(answers(r, {":irc CAP * LS :sasl", ":irc CAP * NAK :sasl"}, &outcomes),
              (QList<QByteArray>{"CAP REQ :sasl", "CAP END"}));
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::NoSasl});
}

TEST(Registration, MultiLineCapLsIsReadWhole)
{
    Registration r = withAccount();
    r.start();
    // Nothing is asked for before the last line of the list, wherever sasl stands in it.
    EXPECT_TRUE(r.take(":irc CAP * LS * :multi-prefix sasl=PLAIN,EXTERNAL").send.isEmpty());
    EXPECT_TRUE(r.take(":irc CAP * LS * :away-notify account-notify").send.isEmpty());
    EXPECT_EQ(r.take(":irc CAP * LS :extended-join").send, QList<QByteArray>{"CAP REQ :sasl"});
    EXPECT_TRUE(r.negotiating());
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
    EXPECT_EQ(sent, (QList<QByteArray>{"CAP REQ :sasl", "AUTHENTICATE PLAIN", kLogin, "CAP END"}));
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::LoggedIn});
    EXPECT_FALSE(r.negotiating());
    EXPECT_TRUE(r.take(":irc 001 alice :Welcome").welcomed);
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
    EXPECT_EQ(sent, (QList<QByteArray>{"CAP REQ :sasl", "AUTHENTICATE PLAIN", kLogin, "CAP END"}));
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
        EXPECT_EQ(sent, (QList<QByteArray>{"CAP REQ :sasl", "AUTHENTICATE PLAIN", "CAP END"}));
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
    EXPECT_EQ(sent, (QList<QByteArray>{"CAP REQ :sasl", "AUTHENTICATE PLAIN", kLogin, "CAP END"}));
    EXPECT_EQ(outcomes, QList<Outcome>{Outcome::Aborted});
    // A second "AUTHENTICATE +" never draws the login again.
    EXPECT_TRUE(r.take("AUTHENTICATE +").send.isEmpty());
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
