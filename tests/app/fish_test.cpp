// Encrypted relayed chats through the whole program against a scripted server: the contact's
// side is played with the same pure cores a FiSH peer would use.
#include "config/store.h"
#include "peer/chat/chat_window.h"
#include "peer/crypto/dh1080.h"
#include "peer/crypto/fish.h"
#include "tests/support/connected_program.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

using test::waitFor;

namespace {

class FishTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        test::CoreOptions options;
        options.contacts = {"bob"};
        connect(options);
        prompter = core->prompter;
    }
    // The newest line sent to bob whose text starts with `start`, without CR LF; waits for it.
    QByteArray sentToBob(const QByteArray& command, const QByteArray& start)
    {
        const QRegularExpression pattern(
            QRegularExpression::escape(QString::fromLatin1(command + " bob :" + start)) + "[^\r]*");
        QByteArray found;
        waitFor([&] {
            for (auto it = pattern.globalMatch(QString::fromLatin1(server.received()));
                 it.hasNext();)
                found = it.next().captured(0).toLatin1();
            return !found.isEmpty();
        });
        return found.mid(command.size() + 6);
    }
    // What went to the server but the away status, which is told to everyone on purpose (the
    // automatic reply to a keyed contact is what must stay sealed).
    QByteArray unsealed() const
    {
        return QByteArray(server.received()).replace("\r\nAWAY :back at five\r\n", "\r\n");
    }
    peer::ChatWindow* bobsWindow() const { return core->chatWith("bob", false); }
    bool shows(const QString& text)
    {
        return waitFor([&] { return bobsWindow() && bobsWindow()->viewText().contains(text); });
    }
    void type(const QString& text)
    {
        bobsWindow()->input()->setText(text);
        bobsWindow()->send();
    }
    void sendBobsInit(const peer::dh1080::KeyPair& bob, bool cbc)
    {
        server.send(":bob!b@h NOTICE alice :"
                    + peer::dh1080::keyExchangeText(peer::dh1080::Step::Init, bob.publicKey, cbc)
                    + "\r\n");
    }
    // bob's side of an exchange that alice answered: the key both now hold.
    QByteArray bobsKeyAfterInit(const peer::dh1080::KeyPair& bob, bool cbc)
    {
        sendBobsInit(bob, cbc);
        const auto finish = peer::dh1080::parseKeyExchange(sentToBob("NOTICE", "DH1080_FINISH"));
        if (!finish || finish->cbc != cbc)
            return {};
        return peer::dh1080::sharedKey(bob, finish->publicKey).value_or(QByteArray());
    }

    test::ScriptedPrompter* prompter = nullptr;
};

TEST_F(FishTest, AContactsExchangeIsAskedAboutThenEveryLineBothWaysIsEncrypted)
{
    prompter->answers = {true};
    const auto bob = peer::dh1080::makeKeyPair();
    ASSERT_TRUE(bob);
    const QByteArray key = bobsKeyAfterInit(*bob, true);
    ASSERT_EQ(key.size(), 43);
    ASSERT_EQ(prompter->questions.size(), 1u);
    EXPECT_EQ(prompter->questions[0].text, "bob wants to encrypt your chat");
    peer::FishKey bobKey;
    ASSERT_TRUE(bobKey.set(key));

    server.send(":bob!b@h PRIVMSG alice :"
                + peer::sealFishText(bobKey, peer::FishMode::Cbc, "meet at <b>noon</b>") + "\r\n");
    ASSERT_TRUE(shows("<bob> meet at <b>noon</b>"));
    EXPECT_EQ(bobsWindow()->protectionLabel()->text(), "Encrypted (FiSH CBC), key not verified");
    EXPECT_TRUE(bobsWindow()->viewText().contains(core->program->fish().status("bob").comparison));

    type(QStringLiteral("see you there"));
    const QByteArray sent = sentToBob("PRIVMSG", "+OK *");
    const peer::OpenedFishText opened = peer::openFishText(bobKey, sent);
    EXPECT_EQ(opened.status, peer::OpenedFishText::Status::Opened);
    EXPECT_EQ(opened.text, "see you there");
    EXPECT_FALSE(server.received().contains("see you there"));

    // A long text goes out in several encrypted lines, each within the line limit even after
    // the server put our prefix before it.
    const QString longText = QString(300, QChar(0x00e9));
    type(longText);
    QByteArray joined;
    ASSERT_TRUE(waitFor([&] {
        joined.clear();
        for (const QByteArray& line : server.received().split('\n')) {
            if (!line.startsWith("PRIVMSG bob :+OK *"))
                continue;
            // As the server relays it: with ":alice!<10>@<63> " before, still within 512.
            EXPECT_LE(line.size() + 1 + 82, 512);
            joined += peer::openFishText(bobKey, line.mid(13).chopped(1)).text;
        }
        return joined.endsWith(longText.toUtf8());
    }));

    // In clear or with another key, it is marked, never shown as garbage.
    server.send(":bob!b@h PRIVMSG alice :sent in clear, \x0f\x03"
                "0,0all of it\r\n");
    ASSERT_TRUE(shows("<bob> [not encrypted] sent in clear"));
    // The mark is on the whole line, not only on its first words: every character is slanted,
    // whatever codes the line holds.
    const QTextBlock clear = bobsWindow()->view()->document()->lastBlock().previous();
    ASSERT_TRUE(clear.text().endsWith("all of it")) << clear.text().toStdString();
    for (int i = 1; i < clear.length(); ++i) {
        QTextCursor at(clear);
        at.setPosition(clear.position() + i);
        EXPECT_TRUE(at.charFormat().fontItalic()) << i;
    }
    peer::FishKey other;
    other.set("another key");
    server.send(":bob!b@h PRIVMSG alice :"
                + peer::sealFishText(other, peer::FishMode::Cbc, "secret words") + "\r\n");
    ASSERT_TRUE(shows("<bob> [an encrypted message that could not be decrypted]"));
}

TEST_F(FishTest, TheAwayReplyToAKeyedContactIsEncrypted)
{
    prompter->answers = {true};
    const auto bob = peer::dh1080::makeKeyPair();
    const QByteArray key = bobsKeyAfterInit(*bob, false);
    ASSERT_FALSE(key.isEmpty());
    config::Settings settings = core->program->settings();
    settings.away = "back at five";
    settings.awayset = true;
    core->program->applySettings(settings);
    peer::FishKey bobKey;
    bobKey.set(key);
    server.send(":bob!b@h PRIVMSG alice :" + peer::sealFishText(bobKey, peer::FishMode::Ecb, "hi")
                + "\r\n");
    const QByteArray away = sentToBob("PRIVMSG", "+OK ");
    EXPECT_EQ(peer::openFishText(bobKey, away).text, "back at five");
    EXPECT_FALSE(unsealed().contains("back at five"));
    ASSERT_TRUE(shows("<alice> (auto-reply) back at five"));
}

TEST_F(FishTest, AContactWhoseKeyCannotBeReadIsNeverWrittenToInClear)
{
    config::Settings settings = core->program->settings();
    settings.away = "back at five";
    settings.awayset = true;
    core->program->applySettings(settings);
    // The store's records as this run finds them: the key text kept in a secret service that
    // has none for it (or is out of reach), a mode alone, and a damaged record.
    const std::pair<QByteArray, QByteArray> records[] = {
        {"bob", "cbc 1 " + QByteArray(32, '\x11').toHex() + " "},
        {"carol", "ecb 0 - "},
        {"dave", "cbc 1 damaged"},
    };
    for (const auto& [nick, record] : records) {
        ASSERT_TRUE(core->program->store().setChatKey(nick, record));
        core->program->fish().rereadKeys();
        core->program->chats().openChat(nick);
        peer::ChatWindow* window = core->chatWith(nick, false);
        ASSERT_TRUE(window);
        EXPECT_EQ(window->protectionLabel()->text(), "Encryption key unreadable, nothing is sent");
        window->input()->setText(QStringLiteral("pay 500 EUR"));
        window->send();
        ASSERT_TRUE(waitFor([&] { return window->viewText().contains("Not sent: this chat is"); }))
            << nick.constData();
        EXPECT_FALSE(window->viewText().contains("pay 500 EUR"));
        // Nothing the user wrote is lost: it waits in the input.
        EXPECT_EQ(window->input()->text(), "pay 500 EUR");
        window->input()->clear();
        // Nor does the away reply go to them.
        server.send(":" + nick + "!u@h PRIVMSG alice :are you there?\r\n");
        ASSERT_TRUE(linesRead(nick));
        EXPECT_FALSE(server.received().contains("PRIVMSG " + nick + " :")) << nick.constData();
    }
    EXPECT_FALSE(server.received().contains("pay 500 EUR"));
    EXPECT_FALSE(unsealed().contains("back at five"));
}

TEST_F(FishTest, AnOfferOverAVerifiedKeySaysThatAcceptingReplacesIt)
{
    ASSERT_TRUE(core->program->store().setChatKey("bob", "cbc 1 " + QByteArray(32, '\x11').toHex()
                                                             + " verified key"));
    core->program->fish().rereadKeys();
    ASSERT_TRUE(core->program->fish().status("bob").verified);
    prompter->answers = {false};
    const auto bob = peer::dh1080::makeKeyPair();
    sendBobsInit(*bob, true);
    ASSERT_TRUE(waitFor([&] { return prompter->questions.size() == 1; }));
    EXPECT_EQ(prompter->questions[0].text,
              "bob wants to encrypt your chat with a new key. Accepting replaces your verified "
              "key; the new one is not verified until you compare keys again");
    EXPECT_TRUE(core->program->fish().status("bob").verified);

    // Where the user decides to trust the key, the limits of FiSH are said.
    core->program->chats().openChat("bob");
    emit core->program->chats().comparisonRequested("bob", bobsWindow());
    ASSERT_EQ(prompter->questions.size(), 2u);
    EXPECT_TRUE(prompter->questions[1].text.contains(
        "FiSH cannot tell whether a line arrived whole: one that lost its first 8 bytes, or was "
        "cut after any 8, still reads as an encrypted line."))
        << prompter->questions[1].text.toStdString();
}

TEST_F(FishTest, ADeclinedExchangeLeavesTheChatInClear)
{
    prompter->answers = {false};
    const auto bob = peer::dh1080::makeKeyPair();
    sendBobsInit(*bob, true);
    ASSERT_TRUE(waitFor([&] { return prompter->questions.size() == 1; }));
    ASSERT_TRUE(linesRead("after"));
    EXPECT_FALSE(server.received().contains("DH1080_FINISH"));
    core->program->chats().openChat("bob");
    type(QStringLiteral("plain as ever"));
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("PRIVMSG bob :plain as ever\r\n"); }));
    EXPECT_EQ(bobsWindow()->protectionLabel()->text(), "Not encrypted");
}

TEST_F(FishTest, TheWindowsMenuExchangesTypesComparesAndStops)
{
    core->program->chats().openChat("bob");
    peer::ChatWindow* window = bobsWindow();
    ASSERT_TRUE(window && window->lockMenu());
    const auto action = [&](const QString& text) {
        for (QAction* each : window->lockMenu()->actions()) {
            if (each->text() == text)
                return each;
        }
        ADD_FAILURE() << text.toStdString();
        return window->lockMenu()->actions().first();
    };

    // A key typed by hand, as FiSH users share one: the published vector goes out.
    prompter->inputs = {QStringLiteral("fishkey")};
    action(QStringLiteral("Set key..."))->trigger();
    type(QStringLiteral("Hello world"));
    ASSERT_TRUE(waitFor([&] {
        return server.received().contains("PRIVMSG bob :+OK O7tsL0iStsR0moZNg0rHQJE1\r\n");
    }));
    EXPECT_EQ(window->protectionLabel()->text(), "Encrypted (FiSH ECB), key entered by hand");
    // Kept for the next run, in the store.
    EXPECT_TRUE(core->program->store().chatKey("bob").value_or("").endsWith(" fishkey"));

    // Our exchange: bob answers with CBC, and the comparison is confirmed.
    action(QStringLiteral("Encrypt this chat"))->trigger();
    const auto init = peer::dh1080::parseKeyExchange(sentToBob("NOTICE", "DH1080_INIT"));
    ASSERT_TRUE(init && init->cbc);
    const auto bob = peer::dh1080::makeKeyPair();
    server.send(":bob!b@h NOTICE alice :"
                + peer::dh1080::keyExchangeText(peer::dh1080::Step::Finish, bob->publicKey, true)
                + "\r\n");
    ASSERT_TRUE(waitFor([&] {
        return window->protectionLabel()->text() == "Encrypted (FiSH CBC), key not verified";
    }));
    // bob's side: the INIT as it reached him, and his FINISH.
    const QString comparison = peer::dh1080::shortAuthenticationString(
        peer::dh1080::exchangeDigest({peer::dh1080::Step::Finish, bob->publicKey, true}, *init));
    prompter->answers = {true};
    action(QStringLiteral("Compare keys..."))->trigger();
    ASSERT_FALSE(prompter->questions.empty());
    EXPECT_TRUE(prompter->questions.back().text.contains(comparison));
    EXPECT_EQ(window->protectionLabel()->text(), "Encrypted (FiSH CBC), verified");

    action(QStringLiteral("Stop encrypting"))->trigger();
    EXPECT_EQ(window->protectionLabel()->text(), "Not encrypted");
    EXPECT_FALSE(core->program->store().chatKey("bob"));
    type(QStringLiteral("clear again"));
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("PRIVMSG bob :clear again\r\n"); }));
}

} // namespace
