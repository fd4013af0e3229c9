// The IRCv3 extensions against a real InspIRCd, with WeeChat as the contact: away shown from the
// server's notices and from USERHOST, typing both ways, delivery marks from the server's echo,
// and chat log stamps from the server's time. Against ngircd, which offers none of what we ask
// for, the negotiation must leave the rest of the conversation byte for byte as without it.
#include "irc/link_status.h"
#include "irc/server_link.h"
#include "tests/support/inspircd_server.h"
#include "tests/support/ngircd_server.h"
#include "tests/support/program_core.h"
#include "tests/support/recording_relay.h"
#include "tests/support/tls_irc_server.h"
#include "tests/support/wait_for.h"
#include "tests/support/weechat_peer.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidgetItem>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <memory>

using test::waitFor;

namespace {

// Every round trip here is on loopback; this is room for a loaded machine.
constexpr int kWait = 10000;

// The contact's row in the list, if shown.
QListWidgetItem* rowOf(const test::ProgramCore& core, const QString& nick)
{
    for (int row = 0; row < core.contacts()->count(); ++row) {
        if (core.contacts()->item(row)->text() == nick)
            return core.contacts()->item(row);
    }
    return nullptr;
}

// The view's line that reads `text`; invalid when there is none.
QTextBlock lineOf(const peer::ChatWindow* window, const QString& text)
{
    const QTextDocument* document = window->view()->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.text() == text)
            return block;
    }
    return {};
}

bool hasBackground(const QTextBlock& block)
{
    return block.blockFormat().hasProperty(QTextFormat::BackgroundBrush);
}

// Types into the input line as the user does, so that each key counts as an edit.
void typeInto(peer::ChatWindow* window, const QString& text)
{
    QTest::keyClicks(window->input(), text);
}

void emptyInput(peer::ChatWindow* window)
{
    QTest::keyClick(window->input(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window->input(), Qt::Key_Backspace);
}

class Ircv3EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!test::haveInspircd())
            GTEST_SKIP() << "inspircd is not installed (tools/test installs it)";
        if (!test::WeechatPeer::available(test::WeechatPeer::Part::Ircv3))
            GTEST_SKIP() << "WeeChat with its typing and python plugins is not installed "
                            "(tools/test installs them)";
        ASSERT_TRUE(server.start(100, test::Ircv3::On)) << server.log().toStdString();
        ASSERT_TRUE(relay.listen(server.port()));
    }

    bool startBob() { return bob.start(server.port(), "bob"); }
    // alice with the contact bob, through the relay; true once bob shows online.
    bool startAlice(bool typing = true, bool logging = false)
    {
        test::CoreOptions options =
            test::ProgramCore::optionsFor(relay.port(), "alice", {"bob"}, logging);
        options.realname = "Alice"; // InspIRCd refuses a USER line whose real name is empty
        options.typing = typing;
        alice = std::make_unique<test::ProgramCore>(options);
        return waitFor([&] { return alice->shownContacts() == QStringList{"bob"}; }, 15000);
    }
    peer::ChatWindow* chatWithBob() const { return alice->program->chats().openChat("bob"); }
    // What both sides said, for failure messages.
    std::string wire() const
    {
        return ("--- alice sent\n" + relay.sent() + "--- alice received\n" + relay.received()
                + "--- bob\n" + bob.log())
            .toStdString();
    }

    test::Inspircd server;
    test::RecordingRelay relay;
    test::WeechatPeer bob{test::WeechatPeer::Part::Ircv3};
    std::unique_ptr<test::ProgramCore> alice;
};

} // namespace

TEST_F(Ircv3EndToEnd, AContactGoingAwayAndBackShowsInTheListAndTheChatTitle)
{
    ASSERT_TRUE(startBob()) << bob.log().constData();
    ASSERT_TRUE(startAlice()) << wire();
    peer::ChatWindow* chat = chatWithBob();
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->windowTitle(), "bob");

    ASSERT_TRUE(bob.setAway("out to lunch", kWait)) << bob.log().constData();
    ASSERT_TRUE(waitFor(
        [&] {
            const QListWidgetItem* row = rowOf(*alice, "bob");
            return row && row->toolTip() == "Away: out to lunch";
        },
        kWait))
        << wire();
    const QListWidgetItem* row = rowOf(*alice, "bob");
    EXPECT_TRUE(row->font().italic());
    EXPECT_EQ(row->data(Qt::AccessibleTextRole).toString(), "bob, away");
    EXPECT_TRUE(waitFor([&] { return chat->windowTitle() == "bob (away)"; }, kWait))
        << chat->windowTitle().toStdString();

    ASSERT_TRUE(bob.setBack(kWait)) << bob.log().constData();
    ASSERT_TRUE(waitFor([&] { return chat->windowTitle() == "bob"; }, kWait)) << wire();
    row = rowOf(*alice, "bob");
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->toolTip().isEmpty()) << row->toolTip().toStdString();
    EXPECT_FALSE(row->font().italic());
    EXPECT_FALSE(row->data(Qt::AccessibleTextRole).isValid());
}

// The server's word that bob is online carries no absence: only the program's own question
// can find that he left before alice came.
// Two users of this program never saw each other away: only the automatic reply told. Our own
// away status now goes to the server, which tells whoever watches us.
TEST_F(Ircv3EndToEnd, TwoOfUsSeeEachOtherGoAwayAndComeBack)
{
    test::CoreOptions options =
        test::ProgramCore::optionsFor(server.port(), "bob", {"alice"}, false);
    options.realname = "Bob";
    test::ProgramCore kivvoBob(options);
    ASSERT_TRUE(startAlice()) << wire();
    config::Settings settings = kivvoBob.program->settings();
    settings.awayset = true;
    settings.away = "gone home";
    kivvoBob.program->applySettings(settings);
    EXPECT_TRUE(waitFor(
        [&] {
            const QListWidgetItem* row = rowOf(*alice, "bob");
            return row && row->toolTip() == "Away: gone home";
        },
        kWait))
        << wire();
    settings.awayset = false;
    kivvoBob.program->applySettings(settings);
    EXPECT_TRUE(waitFor(
        [&] {
            const QListWidgetItem* row = rowOf(*alice, "bob");
            return row && !row->toolTip().startsWith("Away");
        },
        kWait))
        << wire();
}

TEST_F(Ircv3EndToEnd, AContactAwayBeforeWeConnectShowsAwayFromTheServersAnswer)
{
    ASSERT_TRUE(startBob()) << bob.log().constData();
    ASSERT_TRUE(bob.setAway("gone fishing", kWait)) << bob.log().constData();
    ASSERT_TRUE(startAlice()) << wire();
    ASSERT_TRUE(waitFor(
        [&] {
            const QListWidgetItem* row = rowOf(*alice, "bob");
            return row && row->toolTip() == "Away";
        },
        kWait))
        << wire();
    EXPECT_TRUE(relay.sent().contains("USERHOST bob\r\n")) << wire();
    EXPECT_EQ(chatWithBob()->windowTitle(), "bob (away)");

    // A later change brings the text, and coming back clears it.
    ASSERT_TRUE(bob.setAway("still fishing", kWait)) << bob.log().constData();
    EXPECT_TRUE(
        waitFor([&] { return rowOf(*alice, "bob")->toolTip() == "Away: still fishing"; }, kWait))
        << wire();
    ASSERT_TRUE(bob.setBack(kWait)) << bob.log().constData();
    EXPECT_TRUE(waitFor([&] { return rowOf(*alice, "bob")->toolTip().isEmpty(); }, kWait))
        << wire();
}

TEST_F(Ircv3EndToEnd, TypingIsShownBothWays)
{
    ASSERT_TRUE(startBob()) << bob.log().constData();
    ASSERT_TRUE(bob.openQuery("alice")) << bob.log().constData();
    ASSERT_TRUE(startAlice()) << wire();
    peer::ChatWindow* chat = chatWithBob();
    ASSERT_NE(chat, nullptr);
    const QLabel* typing = chat->typingLabel();
    EXPECT_TRUE(typing->isHidden());

    // Theirs: shown while bob types, gone with his line.
    ASSERT_TRUE(bob.type("alice", "are you there?"));
    ASSERT_TRUE(waitFor([&] { return !typing->isHidden(); }, kWait)) << wire();
    EXPECT_EQ(typing->text(), QStringLiteral("bob is typing\u2026"));
    ASSERT_TRUE(bob.sendInput("alice"));
    ASSERT_TRUE(waitFor([&] { return chat->viewText().contains("<bob> are you there?"); }, kWait))
        << wire();
    EXPECT_TRUE(typing->isHidden());
    EXPECT_TRUE(typing->text().isEmpty());

    // Ours: bob sees alice type, and stop when she empties the line...
    typeInto(chat, "yes, ");
    ASSERT_TRUE(bob.waitForTypingState("alice", "typing", kWait)) << wire();
    emptyInput(chat);
    ASSERT_TRUE(bob.waitForTypingState("alice", "off", kWait)) << wire();
    // ...or sends it: the message itself ends the typing, without a "done" after it.
    typeInto(chat, "yes, here");
    ASSERT_TRUE(bob.waitForTypingState("alice", "typing", kWait)) << wire();
    chat->sendButton()->click();
    ASSERT_TRUE(bob.waitForText("alice", "alice", "yes, here", kWait)) << wire();
    EXPECT_TRUE(bob.waitForTypingState("alice", "off", kWait)) << wire();
    EXPECT_EQ(relay.sent().count("+typing=done TAGMSG bob\r\n"), 1) << wire();
}

TEST_F(Ircv3EndToEnd, TypingIsNotToldWhenTheUserTurnedItOff)
{
    ASSERT_TRUE(startBob()) << bob.log().constData();
    ASSERT_TRUE(bob.openQuery("alice")) << bob.log().constData();
    ASSERT_TRUE(startAlice(false)) << wire();
    peer::ChatWindow* chat = chatWithBob();
    ASSERT_NE(chat, nullptr);
    typeInto(chat, "quietly typed");
    chat->sendButton()->click();
    // Anything told while typing would have gone out before the line. (WeeChat notes "off" for
    // the line itself, so its state proves nothing here.)
    ASSERT_TRUE(bob.waitForText("alice", "alice", "quietly typed", kWait)) << wire();
    EXPECT_FALSE(relay.sent().contains("TAGMSG")) << wire();
    EXPECT_NE(bob.typingState("alice"), "typing");

    // bob's typing still shows.
    ASSERT_TRUE(bob.type("alice", "noted"));
    EXPECT_TRUE(waitFor([&] { return !chat->typingLabel()->isHidden(); }, kWait)) << wire();
}

TEST_F(Ircv3EndToEnd, ALineEchoedByTheServerIsDeliveredAndARefusedOneSaysSo)
{
    ASSERT_TRUE(startBob()) << bob.log().constData();
    ASSERT_TRUE(startAlice()) << wire();
    peer::ChatWindow* chat = chatWithBob();
    ASSERT_NE(chat, nullptr);
    typeInto(chat, "lunch at one?");
    chat->sendButton()->click();
    // No event has been handled since: the echo cannot have come yet.
    const auto shown = [&] { return lineOf(chat, "<alice> lunch at one?"); };
    ASSERT_TRUE(shown().isValid()) << chat->viewText().toStdString();
    EXPECT_TRUE(hasBackground(shown()));
    ASSERT_TRUE(bob.waitForText("alice", "alice", "lunch at one?", kWait)) << wire();
    ASSERT_TRUE(waitFor([&] { return shown().isValid() && !hasBackground(shown()); }, kWait))
        << wire();
    EXPECT_TRUE(relay.received().contains(" PRIVMSG bob :lunch at one?")) << wire();
    EXPECT_FALSE(chat->viewText().contains("Not delivered")) << chat->viewText().toStdString();

    peer::ChatWindow* nobody = alice->program->chats().openChat("nosuchnick");
    ASSERT_NE(nobody, nullptr);
    typeInto(nobody, "anyone there?");
    nobody->sendButton()->click();
    ASSERT_TRUE(
        waitFor([&] { return lineOf(nobody, "*Not delivered: anyone there?*").isValid(); }, kWait))
        << nobody->viewText().toStdString() << wire();
    EXPECT_TRUE(hasBackground(lineOf(nobody, "<alice> anyone there?")));
    EXPECT_FALSE(chat->viewText().contains("Not delivered")) << chat->viewText().toStdString();
}

// The server's bytes are held back for two seconds before alice reads them, so the time of
// receipt and the time the server gave differ: the log must keep the latter.
TEST_F(Ircv3EndToEnd, TheChatLogStampsALineWithTheServersTime)
{
    ASSERT_TRUE(startBob()) << bob.log().constData();
    ASSERT_TRUE(startAlice(true, true)) << wire();
    relay.hold();
    ASSERT_TRUE(bob.say("alice", "what time is it?"));
    ASSERT_TRUE(
        waitFor([&] { return relay.held().contains(" PRIVMSG alice :what time is it?"); }, kWait))
        << wire();
    // "@time=…;msgid=… :bob!… PRIVMSG alice :what time is it?"
    const QByteArray held = relay.held();
    const qsizetype end = held.indexOf(" PRIVMSG alice :what time is it?");
    const QByteArray line = held.mid(held.lastIndexOf('\n', end) + 1);
    QByteArray value;
    for (const QByteArray& tag : line.left(line.indexOf(' ')).mid(1).split(';')) {
        if (tag.startsWith("time="))
            value = tag.mid(5);
    }
    const QDateTime sentAt = QDateTime::fromString(QString::fromLatin1(value), Qt::ISODateWithMs);
    ASSERT_TRUE(sentAt.isValid()) << value.constData();
    ASSERT_TRUE(
        waitFor([&] { return QDateTime::currentDateTimeUtc() >= sentAt.addSecs(2); }, kWait));
    relay.release();

    const QString logPath = alice->temp.dirPath() + "/logs/bob.txt";
    QByteArray logged;
    ASSERT_TRUE(waitFor(
        [&] {
            QFile file(logPath);
            logged = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            return logged.contains("<bob> what time is it?");
        },
        kWait))
        << wire();
    const QDateTime t = sentAt.toUTC();
    const QString stamp = QStringLiteral("[%1/%2/%3 %4:%5:%6] <bob> what time is it?\r\n")
                              .arg(t.date().day())
                              .arg(t.date().month())
                              .arg(t.date().year())
                              .arg(t.time().hour())
                              .arg(t.time().minute())
                              .arg(t.time().second());
    EXPECT_TRUE(logged.contains(stamp.toUtf8()))
        << logged.constData() << "\nwanted " << stamp.toStdString();
}

// ngircd 26 answers "CAP LS" with multi-prefix alone, which we do not want: we end the
// negotiation, and everything else goes out as when we never asked.
TEST(Ircv3AgainstNgircd, OnlyTheNegotiationIsAddedToWhatTheProgramWrites)
{
    if (!test::haveNgircd())
        GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
    test::Ngircd server;
    ASSERT_TRUE(server.start());
    test::Watcher bob;
    ASSERT_TRUE(bob.connectTo(server.port(), "bob"));

    // Registration, the first presence poll and one line typed and sent to bob.
    const QByteArray line = "PRIVMSG bob :lunch at one?\r\n";
    const auto session = [&](bool ircv3) {
        const qsizetype heard = bob.received().count(line);
        test::RecordingRelay relay;
        EXPECT_TRUE(relay.listen(server.port()));
        test::CoreOptions options =
            test::ProgramCore::optionsFor(relay.port(), "alice", {"bob"}, false);
        options.ircv3 = ircv3;
        auto alice = std::make_unique<test::ProgramCore>(options);
        EXPECT_TRUE(waitFor([&] { return alice->shownContacts() == QStringList{"bob"}; }, 15000))
            << relay.sent().constData();
        peer::ChatWindow* chat = alice->program->chats().openChat("bob");
        typeInto(chat, "lunch at one?");
        chat->sendButton()->click();
        EXPECT_TRUE(waitFor([&] { return bob.received().count(line) > heard; }, kWait))
            << relay.sent().constData();
        const QByteArray sent = relay.sent();
        alice.reset();
        // The next session must get the same nick.
        EXPECT_TRUE(waitFor([&] { return !bob.isOnline("alice"); }, kWait));
        return sent.left(sent.indexOf(line) + line.size());
    };
    const QByteArray without = session(false);
    QByteArray with = session(true);
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(with.startsWith("CAP LS 302\r\n")) << with.constData();
    EXPECT_EQ(with.count("CAP END\r\n"), 1) << with.constData();
    with.replace("CAP LS 302\r\n", "").replace("CAP END\r\n", "");
    EXPECT_EQ(with, without);
}

// InspIRCd with its sts module offers its TLS port on the plain one: the program leaves the plain
// link before anything more goes out and registers over TLS.
TEST(Ircv3StsEndToEnd, APlainEntryMovesToTheTlsPortTheServerNames)
{
    if (!test::haveInspircd())
        GTEST_SKIP() << "inspircd is not installed (tools/test installs it)";
    test::Inspircd server;
    ASSERT_TRUE(server.start(100, test::Ircv3::WithSts)) << server.log().toStdString();
    const test::TrustedRoot root(test::certificateOf(test::kServerA));
    test::RecordingRelay relay;
    ASSERT_TRUE(relay.listen(server.port()));
    test::CoreOptions options = test::ProgramCore::optionsFor(relay.port(), "alice", {}, false);
    options.realname = "Alice";
    options.start = false;
    test::ProgramCore alice(options);
    QStringList statuses;
    QObject::connect(&alice.program->link(), &irc::ServerLink::statusChanged,
                     [&](const irc::LinkStatus& status) { statuses << irc::statusText(status); });
    QSignalSpy welcomed(&alice.program->link(), &irc::ServerLink::registered);
    alice.window().show();
    alice.program->start();
    ASSERT_TRUE(waitFor([&] { return !welcomed.isEmpty(); }, 15000)) << relay.sent().constData();
    EXPECT_TRUE(statuses.contains("Connected to server 127.0.0.1 (TLS)."))
        << statuses.join('\n').toStdString();
    EXPECT_TRUE(relay.sent().startsWith("CAP LS 302\r\nNICK alice\r\nUSER alice"));
    EXPECT_FALSE(relay.sent().contains("CAP REQ")) << relay.sent().constData();
    EXPECT_FALSE(relay.sent().contains("CAP END")) << relay.sent().constData();
    EXPECT_TRUE(alice.program->link().capabilities().has(irc::Capability::EchoMessage));
}
