// The server link over real loopback TLS: a QSslServer with fixed self-signed certificates
// (tests/support/tls_irc_server.h), the trust-on-first-use question, pins kept in the store,
// refusals, and the plain link left exactly as it was.
#include "app/main_window.h"
#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/sts.h"
#include "tests/support/link_fixture.h"
#include "tests/support/program_core.h"
#include "tests/support/tls_irc_server.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

using test::certificateOf;
using test::FakeIrcServer;
using test::fingerprintOf;
using test::kServerA;
using test::kServerB;
using test::TlsIrcServer;
using test::TrustedRoot;
using test::waitFor;

namespace {

struct Question
{
    QByteArray address;
    QString problems;
    QByteArray fingerprint;
};

class ServerTlsTest : public test::LinkFixture
{
protected:
    ServerTlsTest()
    {
        diag::DebugPanes::instance().clear();
        link->setTrustQuestion([this](const QByteArray& address, const QString& problems,
                                      const QByteArray& fingerprint) {
            questions.push_back({address, problems, fingerprint});
            if (onQuestion)
                onQuestion();
            if (answers.empty())
                return false;
            const bool answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        });
    }

    config::ServerEntry tlsEntry(quint16 port, const QByteArray& address = "127.0.0.1")
    {
        config::ServerEntry entry{address, "Net", port};
        entry.tls = true;
        return entry;
    }
    void addTlsServer(const TlsIrcServer& server, const QByteArray& address = "127.0.0.1")
    {
        temp.store().AddServer(tlsEntry(server.port(), address));
    }

    // What registration sends, whatever its lines are today: sent once NICK and USER went out.
    static bool registrationSent(const QByteArray& received)
    {
        return received.contains("NICK alice\r\n") && received.contains("USER alice");
    }
    // The registration bytes a plain server gets from a fresh link with the same settings.
    QByteArray plainRegistration()
    {
        test::TempStore plainStore;
        FakeIrcServer plain;
        plainStore.store().AddServer({"127.0.0.1", "Net", plain.port()});
        irc::ServerLink plainLink(plainStore.store(), settings);
        plainLink.connectToCurrentServer();
        EXPECT_TRUE(waitFor([&] { return registrationSent(plain.received()); }));
        QTest::qWait(100);
        return plain.received();
    }
    QString debugText() const
    {
        return diag::DebugPanes::instance().text(diag::Pane::Status) + '\n'
               + diag::DebugPanes::instance().text(diag::Pane::Info);
    }

    std::vector<Question> questions;
    std::vector<bool> answers;
    std::function<void()> onQuestion;
};

const QString kChangedA =
    QStringLiteral("The certificate of server 127.0.0.1 has changed! Connection refused.");
const QString kRefused =
    QStringLiteral("The certificate of server 127.0.0.1 is not trusted. Connection refused.");

} // namespace

TEST_F(ServerTlsTest, UnverifiedCertificateAsksOnceThenPinsAndRegistersOverTls)
{
    const QByteArray expected = plainRegistration();
    TlsIrcServer server(kServerA);
    addTlsServer(server);
    answers = {true};
    QSignalSpy registered(link.get(), &irc::ServerLink::registered);
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return registrationSent(server.received()); }));
    QTest::qWait(100);

    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].address, "127.0.0.1");
    EXPECT_EQ(questions[0].fingerprint, fingerprintOf(kServerA));
    EXPECT_FALSE(questions[0].problems.isEmpty());
    EXPECT_EQ(temp.store().certificatePin(tlsEntry(server.port())), fingerprintOf(kServerA));
    // The attempt that asked sent nothing and ended; the next one, pinned, registered.
    EXPECT_EQ(server.handshakes(), 2);
    ASSERT_EQ(server.established(), 2);
    EXPECT_TRUE(server.receivedBy(0).isEmpty());
    EXPECT_EQ(server.received(), expected);
    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(statuses.last(), "Connected to server 127.0.0.1 (TLS).");
    EXPECT_FALSE(statuses.contains("Connected to server 127.0.0.1."));
    EXPECT_TRUE(debugText().contains("Pinned certificate of 127.0.0.1"));

    server.send(":irc.test 001 alice :Welcome\r\n");
    ASSERT_TRUE(waitFor([&] { return !lines.isEmpty(); }));
    EXPECT_EQ(lines.first(), ":irc.test 001 alice :Welcome");
    ASSERT_TRUE(waitFor([&] { return registered.count() == 1; }));
    EXPECT_TRUE(link->sendLine("PRIVMSG bob :hi"));
    ASSERT_TRUE(waitFor([&] { return server.received().endsWith("PRIVMSG bob :hi\r\n"); }));
}

TEST_F(ServerTlsTest, PinnedCertificateConnectsWithoutAsking)
{
    TlsIrcServer server(kServerA);
    addTlsServer(server);
    ASSERT_TRUE(temp.store().pinCertificate(tlsEntry(server.port()), fingerprintOf(kServerA)));
    QSignalSpy failed(link.get(), &irc::ServerLink::attemptFailed);
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return registrationSent(server.received()); }));
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(server.handshakes(), 1);
    EXPECT_EQ(failed.count(), 0);
    EXPECT_TRUE(statuses.contains("Connected to server 127.0.0.1 (TLS)."));
}

// Someone may be impersonating the server: the pass stops at the warning instead of moving on
// to the next entry, where the warning would scroll away behind "Connected".
TEST_F(ServerTlsTest, ChangedCertificateIsRefusedAndEndsThePass)
{
    TlsIrcServer server(kServerB);
    FakeIrcServer next;
    addTlsServer(server);
    temp.store().AddServer({"127.0.0.1", "Net", next.port()});
    ASSERT_TRUE(temp.store().pinCertificate(tlsEntry(server.port()), fingerprintOf(kServerA)));
    QSignalSpy failed(link.get(), &irc::ServerLink::attemptFailed);
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return statuses.contains(kChangedA); }));
    QTest::qWait(200);

    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(statuses, QStringList{kChangedA});
    EXPECT_EQ(next.connectionCount(), 0);
    EXPECT_EQ(link->state(), irc::ServerLink::State::Idle);
    EXPECT_FALSE(link->retryPending());
    EXPECT_EQ(link->serverIndex(), 0);
    const QString debug = debugText();
    EXPECT_TRUE(debug.contains("Certificate of 127.0.0.1 does not match its pin"));
    EXPECT_TRUE(debug.contains(QString::fromLatin1(fingerprintOf(kServerA))));
    EXPECT_TRUE(debug.contains(QString::fromLatin1(fingerprintOf(kServerB))));
    // The pin stays as the user set it, and nothing reached the impostor.
    EXPECT_EQ(temp.store().certificatePin(tlsEntry(server.port())), fingerprintOf(kServerA));
    EXPECT_EQ(server.handshakes(), 1);
    EXPECT_TRUE(server.receivedByAll().isEmpty());
    EXPECT_FALSE(link->isConnected());
}

TEST_F(ServerTlsTest, NoRefusesAndPinsNothing)
{
    TlsIrcServer server(kServerA);
    addTlsServer(server);
    answers = {false};
    QSignalSpy failed(link.get(), &irc::ServerLink::attemptFailed);
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return statuses.contains("Can't connect to any servers!"); }));
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(statuses, (QStringList{kRefused, "Can't connect to any servers!"}));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(temp.store().certificatePin(tlsEntry(server.port())), std::nullopt);
    QTest::qWait(100);
    EXPECT_EQ(server.handshakes(), 1);
    EXPECT_TRUE(server.receivedByAll().isEmpty());
    EXPECT_TRUE(debugText().contains("Certificate of 127.0.0.1 not trusted"));
}

TEST_F(ServerTlsTest, WithoutAQuestionAnUnverifiedCertificateIsRefused)
{
    TlsIrcServer server(kServerA);
    addTlsServer(server);
    link->setTrustQuestion({});
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return statuses.contains("Can't connect to any servers!"); }));
    EXPECT_TRUE(statuses.contains(kRefused));
    EXPECT_TRUE(server.receivedByAll().isEmpty());
}

TEST_F(ServerTlsTest, DisconnectWhileAskingKeepsTheAnswerButDoesNotReconnect)
{
    TlsIrcServer server(kServerA);
    addTlsServer(server);
    answers = {true};
    onQuestion = [this] { link->disconnectFromServer(); };
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return !questions.empty(); }));
    QTest::qWait(200);
    EXPECT_EQ(server.handshakes(), 1);
    EXPECT_EQ(link->state(), irc::ServerLink::State::Idle);
    EXPECT_EQ(statuses.last(), "Disconnected.");
    EXPECT_EQ(temp.store().certificatePin(tlsEntry(server.port())), fingerprintOf(kServerA));
}

TEST_F(ServerTlsTest, CertificateThatVerifiesNeedsNoPin)
{
    const TrustedRoot root(certificateOf(kServerA));
    TlsIrcServer server(kServerA);
    addTlsServer(server);
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return registrationSent(server.received()); }));
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(temp.store().certificatePin(tlsEntry(server.port())), std::nullopt);
    EXPECT_TRUE(statuses.contains("Connected to server 127.0.0.1 (TLS)."));
}

TEST_F(ServerTlsTest, CertificateIsCheckedAgainstTheServersName)
{
    // A trusted certificate made out to 127.0.0.1 does not vouch for "localhost".
    const TrustedRoot root(certificateOf(kServerA));
    TlsIrcServer server(kServerA);
    addTlsServer(server, "localhost");
    answers = {false};
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return !questions.empty(); }));
    EXPECT_EQ(questions[0].address, "localhost");
    EXPECT_TRUE(questions[0].problems.contains("host name", Qt::CaseInsensitive))
        << questions[0].problems.toStdString();
}

TEST_F(ServerTlsTest, TlsEntryNeverSpeaksInClearToAPlainServer)
{
    FakeIrcServer plain;
    temp.store().AddServer(tlsEntry(plain.port()));
    QSignalSpy failed(link.get(), &irc::ServerLink::attemptFailed);
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return !plain.received().isEmpty(); }));
    plain.send("NOTICE * :*** Looking up your hostname\r\n");
    ASSERT_TRUE(waitFor([&] { return failed.count() == 1; }));
    EXPECT_FALSE(plain.received().contains("NICK"));
    EXPECT_FALSE(plain.received().contains("USER"));
    EXPECT_TRUE(questions.empty());
    EXPECT_FALSE(statuses.contains("Sending user info..."));
}

TEST_F(ServerTlsTest, PlainEntryStaysPlain)
{
    FakeIrcServer plain;
    temp.store().AddServer({"127.0.0.1", "Net", plain.port()});
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return plain.received().contains("WHO alice\r\n"); }));
    // The first bytes are the registration itself, not a TLS hello (0x16).
    EXPECT_TRUE(plain.received().startsWith("NICK alice\r\n"));
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(statuses.last(), "Connected to server 127.0.0.1.");
}

TEST(ServerTlsTexts, StatusesAndTheQuestion)
{
    using Step = irc::LinkStatus::Step;
    EXPECT_EQ(irc::statusText({Step::Connected, 0, "irc.example.net"}),
              "Connected to server irc.example.net.");
    EXPECT_EQ(irc::statusText({Step::Connected, 0, "irc.example.net", true}),
              "Connected to server irc.example.net (TLS).");
    EXPECT_EQ(irc::statusText({Step::CertificateChanged, 0, "irc.example.net"}),
              "The certificate of server irc.example.net has changed! Connection refused.");
    EXPECT_EQ(irc::statusText({Step::CertificateRefused, 0, "irc.example.net"}),
              "The certificate of server irc.example.net is not trusted. Connection refused.");
    EXPECT_EQ(irc::fingerprintText("0a1bff"), "0A:1B:FF");
    EXPECT_EQ(irc::trustTitle(), "Unverified Certificate");
    EXPECT_EQ(irc::trustQuestion("irc.example.net", "The certificate is self-signed", "0a1bff"),
              "The certificate of server irc.example.net could not be verified:\n"
              "The certificate is self-signed\n\nSHA-256 fingerprint:\n0A:1B:FF\n\n"
              "Trust this certificate for this server from now on?");
}

// The whole program: the question is a warning box through the prompter, and the status bar
// says the link is secure.
TEST(ServerTlsProgram, AsksThroughThePrompterAndShowsTheSecureLink)
{
    TlsIrcServer server(kServerA);
    test::CoreOptions options;
    options.start = false;
    test::ProgramCore core(options);
    config::ServerEntry entry{"127.0.0.1", "Local", server.port()};
    entry.tls = true;
    core.temp.store().AddServer(entry);
    core.prompter->answers = {true};
    core.window().show();
    core.program->start();
    ASSERT_TRUE(waitFor([&] { return server.received().contains("USER alice"); }, 10000));
    ASSERT_EQ(core.prompter->warnings.size(), 1u);
    EXPECT_EQ(core.prompter->warnings[0].title, "Unverified Certificate");
    EXPECT_TRUE(
        core.prompter->warnings[0].text.contains(irc::fingerprintText(fingerprintOf(kServerA))));
    ASSERT_TRUE(waitFor(
        [&] { return core.window().statusText() == "Connected to server 127.0.0.1 (TLS)."; }));
}

// A plain entry whose server offers TLS (its "sts") is left at once for the TLS port; what the
// server says of the policy over TLS is kept, so the next connection goes there directly, until
// the server says it is over.
TEST_F(ServerTlsTest, FollowsTheServersTlsOnlyPolicy)
{
    settings.ircv3 = true;
    link->setSettings(settings);
    qint64 nowS = 1'000'000;
    link->setPolicyClock([&] { return nowS; });
    const TrustedRoot root(certificateOf(kServerA));
    TlsIrcServer secure(kServerA);
    FakeIrcServer plain;
    const config::ServerEntry plainEntry{"127.0.0.1", "Net", plain.port()};
    temp.store().AddServer(plainEntry);

    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return plain.received().contains("USER alice"); }));
    plain.send(":irc CAP * LS :sasl sts=port=" + QByteArray::number(secure.port()) + "\r\n");
    ASSERT_TRUE(waitFor([&] { return registrationSent(secure.received()); }));
    EXPECT_FALSE(plain.received().contains("CAP REQ"));
    ASSERT_TRUE(waitFor([&] { return !plain.isClientConnected(); }));
    EXPECT_TRUE(statuses.contains("Connected to server 127.0.0.1 (TLS)."));
    // Said in clear, nothing was kept.
    EXPECT_EQ(temp.store().stsPolicy("127.0.0.1"), std::nullopt);

    secure.send(":irc CAP * LS :sts=duration=300\r\n");
    ASSERT_TRUE(waitFor([&] { return secure.received().contains("CAP END"); }));
    EXPECT_EQ(temp.store().stsPolicy("127.0.0.1"),
              irc::StsPolicy({secure.port(), nowS + 300}).encode());

    link->disconnectFromServer();
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return secure.established() == 2; }));
    EXPECT_EQ(plain.connectionCount(), 1);
    secure.send(":irc CAP * LS :sts=duration=0\r\n");
    ASSERT_TRUE(waitFor([&] { return !temp.store().stsPolicy("127.0.0.1"); }));

    // Run out: the plain entry is plain again.
    temp.store().setStsPolicy("127.0.0.1", irc::StsPolicy{secure.port(), nowS + 10}.encode());
    nowS += 11;
    link->disconnectFromServer();
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return plain.connectionCount() == 2; }));
}

// The password and account belong to the entry as the user listed it: a connection that a
// TLS-only policy took to another port logs in with them, whether the policy was kept from
// before or offered just now.
TEST_F(ServerTlsTest, LogsInWithTheListedEntrysAccountUnderTheTlsOnlyPolicy)
{
    settings.ircv3 = true;
    link->setSettings(settings);
    const qint64 nowS = 1'000'000;
    link->setPolicyClock([&] { return nowS; });
    const TrustedRoot root(certificateOf(kServerA));
    TlsIrcServer secure(kServerA);
    FakeIrcServer plain;
    const config::ServerEntry plainEntry{"127.0.0.1", "Net", plain.port()};
    temp.store().AddServer(plainEntry);
    ASSERT_TRUE(temp.store().setServerPassword(plainEntry, "alice:s3cret"));
    const auto asksForLogin = [&] {
        if (!waitFor([&] { return secure.received().contains("CAP LS 302\r\n"); }))
            return false;
        secure.send(":irc CAP * LS :sasl\r\n");
        return waitFor([&] { return secure.received().contains("CAP REQ :sasl\r\n"); });
    };

    // Offered over the plain link: nothing of the account went there.
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return plain.received().contains("CAP LS 302\r\n"); }));
    plain.send(":irc CAP * LS :sasl sts=port=" + QByteArray::number(secure.port()) + "\r\n");
    EXPECT_TRUE(asksForLogin());
    EXPECT_FALSE(plain.received().contains("s3cret"));
    EXPECT_FALSE(plain.received().contains("PASS"));

    // In force from before: straight to the TLS port, with the account.
    link->disconnectFromServer();
    temp.store().setStsPolicy("127.0.0.1", irc::StsPolicy{secure.port(), nowS + 300}.encode());
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return secure.established() == 2; }));
    EXPECT_TRUE(asksForLogin());
    EXPECT_EQ(plain.connectionCount(), 1);
}
