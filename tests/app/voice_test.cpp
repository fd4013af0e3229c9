// Voice chats through the whole program: the menus that start one, the offers on the server
// link, the questions, the return link taken without asking, and the close step.
#include "peer/voice/voice_call.h"
#include "peer/voice/voice_chats.h"
#include "peer/voice/voice_window.h"
#include "tests/support/connected_program.h"
#include "tests/support/scripted_sound.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using app::Command;
using test::waitFor;

namespace {

class VoiceTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        test::CoreOptions options;
        options.contacts = {"bob", "carol"};
        options.sound = sound;
        connect(options);
        prompter = core->prompter;
        ASSERT_TRUE(showOnline({"bob", "carol"}));
    }
    peer::VoiceChats& voice() const { return core->program->voiceChats(); }
    // The port of the newest voice offer to `nick` on the server link, or 0.
    quint16 offeredPort(const QByteArray& nick)
    {
        return ConnectedProgramTest::offeredPort(nick, "VOICE 2130706433");
    }
    int offerCount() const { return int(server.received().count("DCC VOICE")); }
    QString status(int index = 0) const
    {
        return voice().count() > index ? voice().windowOf(voice().at(index))->statusText()
                                       : QStringLiteral("<none>");
    }

    std::shared_ptr<test::ScriptedSound> sound = std::make_shared<test::ScriptedSound>();
    test::ScriptedPrompter* prompter = nullptr;
};

} // namespace

TEST_F(VoiceTest, TheMenuOffersToTheSelectedContactAndOneChatAtATime)
{
    // Nothing selected: nothing happens.
    core->run(Command::VoiceChat);
    QTest::qWait(50);
    EXPECT_EQ(voice().count(), 0);
    core->contacts()->selectContact("bob");
    ASSERT_TRUE(core->program->commands().action(Command::VoiceChat)->isEnabled());
    core->run(Command::VoiceChat);
    ASSERT_NE(offeredPort("bob"), 0);
    ASSERT_EQ(voice().count(), 1);
    peer::VoiceWindow* window = voice().windowOf(voice().at(0));
    EXPECT_EQ(window->windowTitle(), "Voice Chat");
    EXPECT_EQ(status(), "Connecting...");

    core->contacts()->selectContact("carol");
    core->run(Command::VoiceChat);
    // A plain OK box, not an error box.
    EXPECT_TRUE(prompter->errors.empty());
    ASSERT_EQ(prompter->notices.size(), 1u);
    EXPECT_EQ(prompter->notices[0],
              (test::Box{"Voice Chat Already Open",
                         "You can only have one voice chat session open at a time.  Please close "
                         "your exising voice chat window before continuing."}));
    EXPECT_EQ(offerCount(), 1);
    EXPECT_EQ(voice().count(), 1);
}

TEST_F(VoiceTest, ADeclinedOfferLeavesNothingAndAnAcceptedOneIsAnsweredWithTheReturnLink)
{
    for (const char* kind : {"CHAT chat", "VOICE"}) {
        SCOPED_TRACE(kind);
        prompter->questions.clear();
        QTcpServer listener;
        prompter->answers = {false};
        offerFromBob(listener, kind);
        ASSERT_TRUE(waitFor([&] { return prompter->questions.size() == 1; }));
        EXPECT_EQ(records().CountRecords(), 0);
        EXPECT_EQ(voice().count(), 0);
        EXPECT_FALSE(listener.waitForNewConnection(100));
    }

    // Accepted, the offer is answered with the return link and released at the close step.
    prompter->questions.clear();
    QTcpServer listener;
    prompter->answers = {true};
    offerFromBob(listener, "VOICE");
    ASSERT_TRUE(waitFor([&] { return listener.hasPendingConnections(); }));
    ASSERT_EQ(prompter->questions.size(), 1u);
    EXPECT_EQ(prompter->questions[0].title, "Accept voice chat?");
    EXPECT_EQ(prompter->questions[0].text,
              "User \"bob\" wants to voice chat with you.  Do you want to accept?");
    EXPECT_EQ(status(), "Connection established.");
    // Once connected, the sound comes back on a link of its own.
    const quint16 back = offeredPort("bob");
    ASSERT_NE(back, 0);
    QTcpSocket bobPlays;
    bobPlays.connectToHost(QHostAddress::LocalHost, back);
    ASSERT_TRUE(waitFor([&] { return voice().at(0)->isCapturing(); }));
    // The return link is the same conversation: said once.
    EXPECT_EQ(status(), "Connection established.");
    // Bob speaks the plain chat: its first samples tell our player so.
    QTcpSocket* bobCaptures = listener.nextPendingConnection();
    bobCaptures->write(QByteArray(1024, '\x80'));
    ASSERT_TRUE(waitFor([&] { return voice().at(0)->isPlaying(); }));

    // The close step releases every device and link.
    ASSERT_TRUE(
        waitFor([&] { return sound->devices.openInputs == 1 && sound->devices.openOutputs == 1; }));
    core->program->closeStep();
    EXPECT_EQ(sound->devices.openInputs + sound->devices.openOutputs, 0);
    EXPECT_EQ(voice().count(), 0);
    EXPECT_TRUE(waitFor([&] {
        return bobCaptures->state() == QAbstractSocket::UnconnectedState
               && bobPlays.state() == QAbstractSocket::UnconnectedState;
    }));
}

TEST_F(VoiceTest, TheReturnLinkOfOurChatIsTakenWithoutAskingAndOnlyOnce)
{
    core->contacts()->selectContact("bob");
    core->run(Command::VoiceChat);
    QTcpSocket bobPlays;
    bobPlays.connectToHost(QHostAddress::LocalHost, offeredPort("bob"));
    ASSERT_TRUE(waitFor([&] { return voice().at(0)->isCapturing(); }));
    // Bob's return link: no question, the same chat and window.
    QTcpServer bobCaptures;
    offerFromBob(bobCaptures, "VOICE");
    ASSERT_TRUE(waitFor([&] { return bobCaptures.hasPendingConnections(); }));
    EXPECT_TRUE(prompter->questions.empty());
    EXPECT_EQ(voice().count(), 1);
    // Bob speaks the plain chat: its first samples tell our player so, and it plays them.
    bobCaptures.nextPendingConnection()->write(QByteArray(1024, '\x80'));
    ASSERT_TRUE(waitFor([&] { return voice().at(0)->isPlaying(); }));
    EXPECT_EQ(offerCount(), 1) << "a return link is never answered by another";
    // A further offer from bob is a new chat, and asked about.
    QTcpServer again;
    offerFromBob(again, "VOICE");
    ASSERT_TRUE(waitFor([&] { return prompter->questions.size() == 1; }));
    EXPECT_EQ(voice().count(), 1);
}
