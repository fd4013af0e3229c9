// Direct chats through the main window: offers made here and taken up by a peer socket of the
// test's own, offers received from a scripted server, and the encrypted exchange on real sockets.
#include "diag/debug_log.h"
#include "peer/crypto/encrypted_chat.h"
#include "tests/support/connected_program.h"

#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

using app::Command;
using test::waitFor;

namespace {

class DccTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        diag::DebugPanes::instance().clear();
        test::CoreOptions options;
        options.contacts = {"bob"};
        connect(options);
        prompter = core->prompter;
        ASSERT_TRUE(showOnline({"bob"}));
        core->contacts()->selectContact("bob");
    }
    // Offers a chat to bob and connects to it as bob would; the window of the chat.
    peer::ChatWindow* offerAndConnect(Command command, QTcpSocket& bob)
    {
        core->run(command);
        chatPort = offeredPort("bob", "CHAT chat \\d+");
        if (chatPort == 0)
            return nullptr;
        bob.connectToHost(QHostAddress::LocalHost, chatPort);
        if (!bob.waitForConnected(3000))
            return nullptr;
        return core->chat(0);
    }
    QByteArray readFrom(QTcpSocket& socket, qsizetype size)
    {
        waitFor([&] { return socket.bytesAvailable() >= size; });
        return socket.read(size);
    }

    test::ScriptedPrompter* prompter = nullptr;
    quint16 chatPort = 0;
};

} // namespace

TEST_F(DccTest, OffersADirectChatAndTalksOverItWhateverThePeerSends)
{
    QTcpSocket bob;
    peer::ChatWindow* chat = offerAndConnect(Command::DccChat, bob);
    ASSERT_NE(chat, nullptr);
    EXPECT_GE(chatPort, 1024);
    EXPECT_LE(chatPort, 4999);
    EXPECT_TRUE(chat->transcript().startsWith("Waiting for user to accept chat connection...\r\n"));
    ASSERT_TRUE(
        waitFor([&] { return chat->transcript().contains("Connection established.\r\n"); }));

    // Two lines in one write and one line in two writes: each shown as the line it is.
    bob.write("first\r\nsecond\nthi");
    bob.flush();
    ASSERT_TRUE(waitFor([&] { return chat->transcript().contains("<bob> second\r\n"); }));
    bob.write("rd\n");
    ASSERT_TRUE(waitFor([&] { return chat->transcript().contains("<bob> third\r\n"); }));
    EXPECT_TRUE(chat->transcript().contains("<bob> first\r\n<bob> second\r\n"));

    chat->input()->setText("hello bob");
    chat->send();
    EXPECT_EQ(readFrom(bob, 10), "hello bob\n");
    EXPECT_FALSE(server.received().contains("PRIVMSG bob :hello bob"));

    // Hostile frames neither garble nor stop the chat: empty lines, a lone CR, a NUL and a
    // megabyte without LF, then a line that must arrive.
    bob.write("\n\n\r\n\r");
    bob.write(QByteArray("a\0b\n", 4));
    bob.write(QByteArray(1024 * 1024, 'z'));
    bob.write("\nstill here\n");
    ASSERT_TRUE(waitFor([&] { return chat->transcript().contains("<bob> still here\r\n"); }));
    EXPECT_TRUE(chat->transcript().contains("*A line too long to show was dropped*\r\n"));
    EXPECT_FALSE(chat->transcript().contains("zzzz"));

    // A key in the middle of the chat and a second key are both taken.
    const QByteArray firstKey = "0123456789abcdef";
    const QByteArray secondKey = "fedcba9876543210";
    peer::BlowfishState first;
    peer::BlowfishState second;
    ASSERT_TRUE(peer::installChatKey(first, firstKey));
    ASSERT_TRUE(peer::installChatKey(second, secondKey));
    // All in one write: the framer must switch modes exactly at each message's last byte.
    bob.write("plain before\n" + *peer::chatKeyMessage(firstKey)
              + *peer::SealChatText(first, "sealed with the first")
              + *peer::chatKeyMessage(secondKey)
              + *peer::SealChatText(second, "sealed with the second"));
    ASSERT_TRUE(waitFor([&] { return chat->transcript().contains("sealed with the second"); }))
        << chat->transcript().toStdString();
    EXPECT_TRUE(chat->transcript().contains("<bob> plain before\r\n<bob> sealed with the first\r\n"
                                            "<bob> sealed with the second\r\n"));
    EXPECT_TRUE(records().at(0)->keyInstalled);

    chat->input()->setText("under the new key");
    chat->send();
    const auto opened = peer::OpenChatPacket(second, readFrom(bob, 4 + 24 + 1));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->text, "under the new key");
}

TEST_F(DccTest, RunsTheKeyExchangeAndEncryptsBothWays)
{
    QTcpSocket bob;
    peer::ChatWindow* chat = offerAndConnect(Command::EncryptedChat, bob);
    ASSERT_NE(chat, nullptr);
    const QByteArray keyMessage = readFrom(bob, peer::kKeyMessageLength);
    ASSERT_TRUE(keyMessage.startsWith("\x01"
                                      "ENCRYPT "));
    ASSERT_TRUE(keyMessage.endsWith('\x01'));
    const QByteArray key = keyMessage.mid(9, 16);
    peer::BlowfishState bobCipher;
    ASSERT_TRUE(peer::installChatKey(bobCipher, key));
    EXPECT_TRUE(records().at(0)->keyInstalled);

    bob.write(*peer::SealChatText(bobCipher, "secret from bob"));
    ASSERT_TRUE(waitFor([&] { return chat->transcript().contains("<bob> secret from bob\r\n"); }));
    EXPECT_FALSE(chat->cipherField()->text().isEmpty());

    chat->input()->setText("secret reply");
    chat->send();
    const QByteArray packet = readFrom(bob, 4 + 16 + 1);
    const auto opened = peer::OpenChatPacket(bobCipher, packet);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->text, "secret reply");

    // The peer ends encryption: no end message comes back, and lines are plain again.
    bob.write(peer::kEndMessage);
    ASSERT_TRUE(waitFor([&] { return !records().at(0)->keyInstalled; }));
    chat->input()->setText("plain again");
    chat->send();
    EXPECT_EQ(readFrom(bob, 12), "plain again\n");
}

TEST_F(DccTest, AcceptsAChatOfferAndConnectsToIt)
{
    QTcpServer listener;
    prompter->answers = {true};
    offerFromBob(listener, "CHAT chat");
    ASSERT_TRUE(waitFor([&] { return listener.hasPendingConnections(); }));
    ASSERT_EQ(prompter->questions.size(), 1u);
    EXPECT_EQ(prompter->questions[0].title, "Accept DCC Chat?");
    EXPECT_EQ(prompter->questions[0].text,
              "User \"bob\" wants to DCC chat with you.  Do you want to accept?");
    QTcpSocket* bob = listener.nextPendingConnection();
    ASSERT_EQ(records().CountRecords(), 1);
    peer::ChatSession* record = records().at(0);
    EXPECT_TRUE(record->isDirect());
    EXPECT_FALSE(record->serverRouted); // relayed text from bob opens its own window
    peer::ChatWindow* chat = core->chat(0);
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->transcript(), "Connection established.\r\n");
    bob->write("over the link\n");
    EXPECT_TRUE(waitFor([&] { return chat->transcript().contains("<bob> over the link\r\n"); }));
    // A lone CR inside a line from the peer is shown as its escape, on the line it came in.
    bob->write("ok\r<alice> yes, I will pay 500 EUR\n");
    EXPECT_TRUE(waitFor([&] {
        return chat->transcript().endsWith("<bob> ok\\x0d<alice> yes, I will pay 500 EUR\r\n");
    })) << chat->transcript().toStdString();
    EXPECT_EQ(chat->viewText().count('\n'), 3);
}

// A nick or a file name with a line or paragraph separator adds no line to the question.
TEST_F(DccTest, AnOfferQuestionIsOneLineWhateverTheNickOrNameHolds)
{
    prompter->answers = {false, false};
    server.send(":mal\xE2\x80\xA8lory!m@h PRIVMSG alice :\x01"
                "DCC CHAT chat 2130706433 4000\x01\r\n"
                ":bob!b@h PRIVMSG alice :\x01"
                "DCC SEND a\xE2\x80\xA9"
                "b.txt 2130706433 4001 10\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return prompter->questions.size() == 2; }));
    EXPECT_EQ(prompter->questions[0].text,
              "User \"mal\\u2028lory\" wants to DCC chat with you.  Do you want to accept?");
    EXPECT_EQ(prompter->questions[1].text,
              "User \"bob\" wants to send you a file named \"a_b.txt\".  Do you want to accept?");
}

TEST_F(DccTest, RefusesHostileOffersWithoutAsking)
{
    const QByteArray offers[] = {
        "DCC CHAT chat 2130706433 80",        // a privileged port
        "DCC CHAT chat 2130706433 0",         //
        "DCC CHAT chat 0 4000",               // no address
        "DCC CHAT chat 3758096385 4000",      // multicast 224.0.0.1
        "DCC CHAT chat 4294967295 4000",      // broadcast
        "DCC SEND \"..\" 2130706433 4000 10", // no usable name
        "DCC CHAT chat 2130706433",           // a field missing
        "DCC SEND f 2130706433 0 10",         // neither a port nor a token
        "DCC SEND f 2130706433 4000 10 99",   // answers no passive offer of ours
        "DCC CHAT chat 2130706433 4000 5",    // likewise
        "DCC VOICE 2130706433 0",             // voice chats are never passive
        "DCC SEND f ::1::2 4000 10",          // an IPv6 address that is none
        "DCC RESUME f 4000 -5",               // no offer of ours, and no position
    };
    for (const QByteArray& offer : offers)
        server.send(":mallory!m@h PRIVMSG alice :\x01" + offer + "\x01\r\n");
    ASSERT_TRUE(linesRead("after"));
    EXPECT_TRUE(prompter->questions.empty());
    EXPECT_EQ(records().CountRecords(), 0);
    EXPECT_GE(diag::DebugPanes::instance().text(diag::Pane::Status).count("DCC"), 13);
}

TEST_F(DccTest, OffersToResumeWhatAnEarlierTransferLeft)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("f.bin");
    QFile part(path + ".part");
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write(QByteArray(100, 'x'));
    part.close();
    prompter->answers = {true, true};
    prompter->inputs = {path};
    server.send(":bob!b@h PRIVMSG alice :\x01"
                "DCC SEND f.bin 2130706433 4000 1000\x01\r\n");
    ASSERT_TRUE(waitFor([&] {
        return server.received().contains("PRIVMSG bob :\x01"
                                          "DCC RESUME f.bin 4000 100\x01\r\n");
    }));
    ASSERT_EQ(prompter->questions.size(), 2u);
    EXPECT_EQ(prompter->questions[1].title, "Resume File?");
    EXPECT_EQ(prompter->questions[1].text,
              "Part of \"" + path
                  + "\" was received before (100 of 1000 bytes).  Do you want to resume it?");
    // What would be carried on is named before the user says yes: its size and its date.
    const QDateTime written = QFileInfo(path + ".part").lastModified();
    EXPECT_EQ(prompter->questions[1].informative,
              "The part file \"" + path + ".part\" holds 100 bytes and was last written "
                  + QLocale().toString(written, QLocale::LongFormat) + ".");
}

// Only a private offer is called secure. The questions named only the nick and the file: nothing
// said where the program would connect, nor that a stranger's offer pointed at this machine
// (allowed while the server is here, as behind a local bouncer or tunnel), nor which protection
// each would have. A file's question gives its size first.
TEST_F(DccTest, EachOfferQuestionSaysWhereItWouldConnectAndHowItIsProtected)
{
    const QString here = " (this machine: the connection would go to a program on your own "
                         "computer, not to the sender's)";
    const QString plainChat =
        "Plain or Blowfish chat: the link itself is not encrypted. The sender may turn on "
        "Blowfish once connected (an Encrypted Chat), and its key then crosses the same link "
        "unprotected.";
    const QString plainFile = "Plain transfer: the file crosses the network unencrypted.";
    const struct
    {
        QByteArray offer;
        QString where;
        QString protection;
        QString question = {}; // empty: not looked at
    } cases[] = {
        {"DCC CHAT chat 16909060 4000", "Address: 1.2.3.4, port 4000", plainChat,
         "User \"bob\" wants to DCC chat with you.  Do you want to accept?"},
        {"DCC SCHAT chat 16909060 4000", "Address: 1.2.3.4, port 4000",
         "TLS chat: the link is encrypted with TLS, and the sender's certificate is checked "
         "before a line is read.",
         "User \"bob\" wants to DCC chat (secure chat) with you.  Do you want to accept?"},
        {"DCC SEND f.txt 3232235777 5000 10", "10 bytes\nAddress: 192.168.1.1, port 5000",
         plainFile},
        {"DCC SSEND f.txt 16909060 5000 10", "10 bytes\nAddress: 1.2.3.4, port 5000",
         "TLS transfer: the file crosses the network encrypted with TLS."},
        {"DCC VOICE 16909060 4001", "Address: 1.2.3.4, port 4001",
         "Plain voice chat: the sound crosses the network unencrypted."},
        {"DCC CHAT chat 2001:db8::7 4002", "Address: 2001:db8::7, port 4002", plainChat},
        {"DCC CHAT chat 2130706433 4003", "Address: 127.0.0.1, port 4003" + here, plainChat},
        {"DCC SEND f.txt ::1 4004 10", "10 bytes\nAddress: ::1, port 4004" + here, plainFile},
        {"DCC SEND f.txt 16909060 0 10 77",
         "10 bytes\nNo address to connect to: Kivvo would listen on a port of its own and tell "
         "the sender where.",
         plainFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offer.toStdString());
        prompter->questions.clear();
        server.send(":bob!b@h PRIVMSG alice :\x01" + c.offer + "\x01\r\n");
        ASSERT_TRUE(waitFor([&] { return prompter->questions.size() == 1; }));
        const test::Box& asked = prompter->questions[0];
        EXPECT_TRUE(asked.informative.startsWith(c.where + "\n"))
            << asked.informative.toStdString();
        EXPECT_TRUE(asked.informative.endsWith("\n" + c.protection))
            << asked.informative.toStdString();
        if (!c.question.isEmpty()) {
            EXPECT_EQ(asked.title, "Accept DCC Chat?");
            EXPECT_EQ(asked.text, c.question);
        }
    }
    EXPECT_EQ(records().CountRecords(), 0); // every one declined
    // The contacts' FiSH entry is not taken for the direct "Encrypted Chat".
    auto* encrypt = core->contacts()->findChild<QAction*>("EncryptChat");
    ASSERT_NE(encrypt, nullptr);
    EXPECT_EQ(encrypt->text(), "Encrypt Relayed Chat (FiSH)...");

    // DCC Chat needs a selected contact.
    core->contacts()->clearSelection();
    core->run(Command::DccChat);
    ASSERT_EQ(prompter->errors.size(), 1u);
    EXPECT_EQ(prompter->errors[0].title, "Select Contact");
    EXPECT_EQ(records().CountRecords(), 0);
}

class BrokenFrameTest : public DccTest, public ::testing::WithParamInterface<QByteArray>
{};

TEST_P(BrokenFrameTest, ClosesWithANoteInsteadOfGarbling)
{
    QTcpSocket bob;
    peer::ChatWindow* chat = offerAndConnect(Command::EncryptedChat, bob);
    ASSERT_NE(chat, nullptr);
    ASSERT_EQ(readFrom(bob, peer::kKeyMessageLength).size(), peer::kKeyMessageLength);
    bob.write(GetParam());
    bob.write("after the fault\n");
    ASSERT_TRUE(waitFor([&] {
        return chat->transcript().contains("*The encrypted link lost its framing");
    })) << chat->transcript().toStdString();
    EXPECT_FALSE(chat->transcript().contains("after the fault"));
}

INSTANTIATE_TEST_SUITE_P(
    HostileFrames, BrokenFrameTest,
    ::testing::Values(QByteArray("\0\0\0\x03", 4) + "abc\n", // shorter than its own header
                      QByteArray("\0\0\x02\x04", 4) + QByteArray(512, 'x') + "\n", // 516: refused
                      QByteArray("\0\0\0\x0c", 4) + QByteArray(8, 'x') + "!",      // no closing LF
                      // Key messages whose key is not 16 bytes long.
                      QByteArray(peer::kKeyMessagePrefix) + "\x01",
                      QByteArray(peer::kKeyMessagePrefix) + "k\x01",
                      QByteArray(peer::kKeyMessagePrefix) + QByteArray(17, 'q') + "\x01",
                      QByteArray(peer::kKeyMessagePrefix) + QByteArray(4096, 'q') + "\x01"));

namespace {

QByteArray chatOfferFrom(const QByteArray& nick, int port)
{
    return ":" + nick + "!u@h PRIVMSG alice :\x01" + "DCC CHAT chat 2130706433 "
           + QByteArray::number(port) + "\x01\r\n";
}

} // namespace

TEST_F(DccTest, AnOfferFloodWhileAQuestionIsOpenAsksOnlyAFewAndKeepsTheLinkAlive)
{
    // Nobody answers while the flood lasts: every question stays open until the server's PING
    // after the flood has been answered, which also proves the link kept reading meanwhile.
    int open = 0;
    int mostOpen = 0;
    prompter->onAsk = [&] {
        mostOpen = std::max(mostOpen, ++open);
        if (prompter->questions.size() == 1) {
            QByteArray flood;
            for (int i = 0; i < 200; ++i)
                flood += chatOfferFrom("m" + QByteArray::number(i), 4000 + i);
            server.send(flood + "PING :during\r\n");
        }
        // Beyond the bound a failing run answers at once instead of waiting out every question.
        if (prompter->questions.size() <= size_t(irc::PendingOffers::kMaxPending)) {
            EXPECT_TRUE(waitFor([&] { return server.received().contains("PONG :during"); }));
        }
        --open;
    };
    server.send(chatOfferFrom("bob", 4999));
    server.send("PING :after\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PONG :after"); }, 15000));
    EXPECT_EQ(prompter->questions.size(), size_t(irc::PendingOffers::kMaxPending));
    EXPECT_EQ(mostOpen, irc::PendingOffers::kMaxPending);
    EXPECT_EQ(diag::DebugPanes::instance().text(diag::Pane::Status).count("Too many DCC offers"),
              1);
    EXPECT_EQ(records().CountRecords(), 0);

    // Once the questions are answered, the next offer is asked about again.
    prompter->onAsk = nullptr;
    server.send(chatOfferFrom("carol", 4998));
    EXPECT_TRUE(waitFor([&] { return prompter->questions.size() == 4; }));
}

// Exit names the direct chat and the voice chat it would end; a chat still waiting for its peer
// has nothing to lose.
TEST_F(DccTest, ExitNamesTheDirectAndVoiceChatsItWouldEnd)
{
    QSignalSpy closed(core->program.get(), &app::Program::closeStepDone);
    core->run(Command::VoiceChat);
    ASSERT_EQ(core->program->voiceChats().count(), 1);
    QTcpSocket bob;
    peer::ChatWindow* chat = offerAndConnect(Command::DccChat, bob);
    ASSERT_NE(chat, nullptr);
    ASSERT_TRUE(
        waitFor([&] { return chat->transcript().contains("Connection established.\r\n"); }));
    core->run(Command::Exit);
    EXPECT_EQ(prompter->questions,
              (std::vector<test::Box>{{"Exit Kivvo?", "Exiting now ends:\n"
                                                      "- the voice chat with bob\n"
                                                      "- the direct chat with bob\n\n"
                                                      "Exit anyway?"}}));
    EXPECT_EQ(closed.count(), 0);
}
